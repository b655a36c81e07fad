// A play screen on an in-memory display: plain play settings, a scripted keyboard, a silent
// sound component and a hand-driven clock. Charts run at 1875 BPM, so one tick is one
// millisecond and Frame(P) draws the frame at song position P exactly.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "gui/Form.h"
#include "media/DXClass.h"
#include "media/DXDraws.h"
#include "media/DXInput.h"
#include "media/DXSounds.h"
#include "play/DM.h"
#include "play/TapoModule.h"
#include "support/ScriptedInput.h"
#include "support/TestFiles.h"

namespace playtest {

enum class Screen { Window, Full16, Full8 };

inline const char* ScreenName(Screen s) {
    switch (s) {
        case Screen::Window: return "window";
        case Screen::Full16: return "full16";
        case Screen::Full8: return "full8";
    }
    return "?";
}

inline gui::TRect ReceptorCell(int column, bool bright) {
    const int top = bright ? 32 : 1;
    return gui::Rect(31 * column + 1, top, 31 * column + 31, top + 30);
}

inline gui::TRect ArrowCell(int column, int phase) {
    return gui::Rect(31 * column + 1, 31 * phase + 63, 31 * column + 31, 31 * phase + 93);
}

class PlayRig : public ::testing::Test {
protected:
    void SetUp() override {
        gui::Clock::UseManual(100000);
        play::CreateDM();
        play::DM->SpaceDown = false;
        play::DM->SpaceWasDown = false;
    }
    void TearDown() override {
        gui::Clock::UseSystem();
    }

    // Writes the chart (after a 1875 BPM header) as song.bms and runs SetupAndLoad and the
    // clock start as the sequencer does.
    bool Load(std::string_view chart, Screen screen = Screen::Window, int bgaMode = 0) {
        settings.ColorMode = screen == Screen::Full8 ? 0 : 1;
        settings.DisplayMode = screen == Screen::Window ? 1 : 0;
        bms = std::make_unique<engine::TBMS>(&display, &sound);
        bms->BgaDisplayMode = bgaMode;
        bms->Options.Extended = extended;
        testsupport::WriteFile(dir / "song.bms", "#BPM 1875\n" + std::string(chart));
        const bool loaded = play::SetupAndLoad(app, display, *bms, (dir / "song.bms").string(), settings);
        if (loaded) bms->StartClock();
        return loaded;
    }

    bool Frame(int32_t position) {
        gui::Clock::Set(bms->Clock().ClockBase() + static_cast<uint32_t>(position));
        return play::PlayFrame(display, *bms, settings, play::ReadFrameInput(input, timer));
    }

    media::TDirectDrawSurface& Surface() { return *display.Surface(); }
    media::TDirectDrawSurface& Sheet() { return *play::State().ArrowSheet; }
    uint32_t At(int x, int y) { return Surface().Pixel(x, y); }
    uint32_t Xrgb(int x, int y) {
        return gui::PixelToXrgb(At(x, y), Surface().Format(), Surface().PaletteInForce());
    }
    // A corner that no arrow or receptor of the tests' charts reaches.
    uint32_t Backdrop() { return At(316, 236); }

    // Compares the screen with `cell` of the sheet drawn at (x, y), over the part on the
    // screen: drawn pixels must equal the sheet; keyed pixels must show `background` when it is
    // given (and are not checked otherwise).
    ::testing::AssertionResult CellAt(int x, int y, const gui::TRect& cell, std::optional<uint32_t> background) {
        const uint32_t key = Sheet().TransparentColor();
        int checked = 0;
        for (int j = 0; j < cell.Height(); ++j) {
            for (int i = 0; i < cell.Width(); ++i) {
                const int sx = x + i, sy = y + j;
                if (sx < 0 || sy < 0 || sx >= 320 || sy >= 240) continue;
                const uint32_t source = Sheet().Pixel(cell.Left + i, cell.Top + j);
                if (source == key && !background) continue;
                const uint32_t expected = source == key ? *background : source;
                ++checked;
                if (At(sx, sy) != expected)
                    return ::testing::AssertionFailure() << "screen (" << sx << "," << sy << ") is " << At(sx, sy)
                                                         << ", expected " << expected;
            }
        }
        if (checked == 0) return ::testing::AssertionFailure() << "no pixel of the cell lies on the screen";
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult CellAt(int x, int y, const gui::TRect& cell) { return CellAt(x, y, cell, Backdrop()); }

    // Every pixel of the rectangle shows `pixel`.
    ::testing::AssertionResult Plain(const gui::TRect& rect, uint32_t pixel) {
        for (int y = std::max(rect.Top, 0); y < std::min(rect.Bottom, 240); ++y)
            for (int x = std::max(rect.Left, 0); x < std::min(rect.Right, 320); ++x)
                if (At(x, y) != pixel)
                    return ::testing::AssertionFailure() << "(" << x << "," << y << ") is " << At(x, y);
        return ::testing::AssertionSuccess();
    }

    // Index in the object table of the first object of `kind` at `position`, -1 if none.
    int32_t IndexOf(int32_t kind, int32_t position) const {
        for (int32_t i = 0; i <= bms->Chart().LastObject(); ++i)
            if (bms->Chart()[i].Kind == kind && bms->Chart()[i].Position == position) return i;
        return -1;
    }

    gui::Application app;
    gui::Form form{app, "play", 320, 240};
    std::shared_ptr<testsupport::ScriptedInput> keys = std::make_shared<testsupport::ScriptedInput>();
    media::TDXInput input{&form, keys};
    media::TDXTimer timer{app};
    play::PlaySettings settings{1, 1};
    testsupport::TempDir dir;
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    std::unique_ptr<engine::TBMS> bms;
    bool extended = false;  // Load reads the chart in the extended dialect
};

}  // namespace playtest
