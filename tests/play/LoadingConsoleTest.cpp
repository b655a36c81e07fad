#include "PlayRig.h"

#include <string>
#include <vector>

#include "support/GoldenPicture.h"

namespace playtest {
namespace {

using LoadingConsole = PlayRig;

struct Line {
    std::string text;
    gui::TColor color;
};

// The console after loading the test chart, newest line first.
const std::vector<Line> kLines{
    {"Play Start!!", gui::clYellow},
    {"Making time table..", gui::clWhite},
    {"Load Complete!", gui::clWhite},
    {"ARTIST:Someone", gui::clAqua},
    {"GENRE:Test", gui::clAqua},
    {"TITLE:Console", gui::clAqua},
    {"Start Loading:song.bms", gui::clWhite},
    {"", gui::clBlack},
    {"(C) 2026 The Glimstep developers", gui::clYellow},
    {"Version 1.2", gui::clYellow},
    {"Welcome to Glimstep Player!", gui::clWhite},
};

uint32_t Channels(uint32_t xrgb, int shift) { return (xrgb >> shift) & 0xFF; }

TEST_F(LoadingConsole, ShowsEveryLineInItsColourInEachPixelFormat) {
    for (const Screen screen : {Screen::Window, Screen::Full16, Screen::Full8}) {
        SCOPED_TRACE(ScreenName(screen));
        ASSERT_TRUE(Load("#TITLE Console\n#GENRE Test\n#ARTIST Someone\n#00111:01\n", screen));
        EXPECT_TRUE(testsupport::MatchesGolden(std::string("loading-console-") + ScreenName(screen), 320, 240,
                                               [&](int x, int y) { return Xrgb(x, y); }));

        // Each line's band: text of its own colour and nothing else; the lines follow one
        // another by the pitch, the newest at the bottom.
        const int h = bms->ConsoleBitmap.Canvas().TextHeight("A");
        const int pitch = h + 4;
        for (size_t k = 0; k < kLines.size(); ++k) {
            const Line& line = kLines[k];
            SCOPED_TRACE(line.text);
            const int top = 240 - h - static_cast<int>(k) * pitch;
            const uint32_t full = gui::PixelToXrgb(Surface().DeviceColor(line.color), Surface().Format(),
                                                   Surface().PaletteInForce()) & 0xFFFFFF;
            uint32_t brightest = 0;
            int lit = 0;
            for (int y = std::max(top - 4, 0); y < top + h; ++y)
                for (int x = 0; x < 320; ++x) {
                    const uint32_t p = Xrgb(x, y) & 0xFFFFFF;
                    if (p == 0) continue;
                    ASSERT_GE(y, top) << "in the gap above the line at " << x << "," << y;
                    ++lit;
                    const auto sum = [](uint32_t c) { return Channels(c, 0) + Channels(c, 8) + Channels(c, 16); };
                    if (sum(p) > sum(brightest)) brightest = p;
                    // Smoothed edges are the colour over black: a channel the colour lacks
                    // stays dark (8-bit play shows the nearest palette colours instead).
                    if (screen == Screen::Full8) continue;
                    for (int shift = 0; shift <= 16; shift += 8) {
                        if (Channels(full, shift) != 0) continue;
                        ASSERT_LE(Channels(p, shift), 8u) << "at " << x << "," << y << ": " << std::hex << p;
                    }
                }
            if (line.text.empty()) {
                EXPECT_EQ(lit, 0);
                continue;
            }
            EXPECT_GT(lit, 10);
            EXPECT_EQ(brightest, full) << std::hex << brightest;
        }
    }
}

}  // namespace
}  // namespace playtest
