// The live path end to end: the click chart played through SDL's disk audio driver, which writes
// what the device consumes to a file at its own pace (not quite the system clock's), while play
// frames run on the real clock. The clicks in that file must keep the tempo map's spacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "gui/Form.h"
#include "media/AudioDevice.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "play/DM.h"
#include "play/TapoModule.h"
#include "support/ClickChart.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

TEST(LivePlay, ClicksInTheDevicesOutputKeepTheTempoMapsTimesOverAMinuteOfSong) {
    testsupport::TempDir dir;
    // 47 measures: 62 s of song, 31 s of real time at twice the speed.
    const std::vector<double> times = testsupport::WriteClickChart(dir.Path(), 47);
    ASSERT_GT(times.back() - times.front(), 60000);
    const fs::path capture = dir / "device.raw";
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    testsupport::ScopedEnv file("SDL_DISKAUDIOFILE", capture.string());

    gui::Application app;
    gui::Form form(app, "live", 320, 240);
    media::TDXSound sound(&form);
    sound.OnInitialize = [](media::TDXSound& s) {
        media::TWaveFormatEx format;
        media::MakePcmFormat(format, 44100, 16, 2);
        s.Primary()->SetFormat(format);
    };
    sound.Loaded();
    ASSERT_TRUE(sound.Initialized());
    ASSERT_NE(sound.Device(), nullptr);
    ASSERT_EQ(sound.Device()->DriverName(), "disk");
    media::TDXDraw display(nullptr);
    play::CreateDM();
    // The frames of this loop come about every millisecond, but a busy test machine can hold the
    // thread back for a hundred of them and more: a frame period of half a second hands each
    // sound over early enough anyway. The check is on where the sounds land, not on how the
    // frames are paced.
    play::PlaySettings settings;
    settings.FramePeriodMs = 500;
    {
        engine::TBMS bms(&display, &sound);
        bms.BgaDisplayMode = 2;
        bms.PlaySpeed = 200;
        ASSERT_TRUE(play::SetupAndLoad(app, display, bms, (dir / "song.bms").string(), settings));
        bms.StartClock();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        const auto frame = [] {
            play::FrameInput input;
            input.NowMs = gui::Clock::Now();
            return input;
        };
        while (!play::PlayFrame(display, bms, settings, frame()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_LT(std::chrono::steady_clock::now(), deadline);
    }
    sound.Finalize();

    const std::string raw = testsupport::ReadFile(capture);
    const auto* mix = reinterpret_cast<const int16_t*>(raw.data());
    const std::vector<size_t> onsets = testsupport::FindOnsets(mix, raw.size() / 4);
    EXPECT_EQ(onsets.size(), times.size());
    for (size_t i = 1; i < std::min(onsets.size(), times.size()); ++i) {
        const double expectedMs = (times[i] - times[0]) / 2;
        const double heardMs = static_cast<double>(onsets[i] - onsets[0]) * 1000 / 44100;
        ASSERT_NEAR(heardMs, expectedMs, 1.0) << "click " << i;
    }
}

}  // namespace
