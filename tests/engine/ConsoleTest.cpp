#include <vector>

#include "EngineFixture.h"

namespace enginetest {
namespace {

using ConsoleTest = EngineTest;

std::vector<uint32_t> Pixels(const gui::Bitmap& bitmap) {
    std::vector<uint32_t> out;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) out.push_back(bitmap.Pixel(x, y));
    return out;
}

bool RowIsBlack(const gui::Bitmap& bitmap, int y) {
    for (int x = 0; x < bitmap.Width(); ++x)
        if ((bitmap.Pixel(x, y) & 0xFFFFFF) != 0) return false;
    return true;
}

int LinePitch(engine::TBMS& bms) { return bms.ConsoleBitmap.Canvas().TextHeight("A") + 4; }

TEST_F(ConsoleTest, EachLineMovesTheConsoleUpByExactlyOnePitch) {
    ASSERT_EQ(bms.ConsoleBitmap.Width(), 320);
    ASSERT_EQ(bms.ConsoleBitmap.Height(), 240);
    const int pitch = LinePitch(bms);
    ASSERT_GT(pitch, 4);
    // The greeting lines are there.
    ASSERT_FALSE(RowIsBlack(bms.ConsoleBitmap, 240 - pitch + 6) && RowIsBlack(bms.ConsoleBitmap, 240 - pitch / 2));

    const std::vector<uint32_t> before = Pixels(bms.ConsoleBitmap);
    bms.ConsoleLine("Next line", gui::clWhite);
    for (int y = 0; y + pitch < 240; ++y)
        for (int x = 0; x < 320; ++x)
            ASSERT_EQ(bms.ConsoleBitmap.Pixel(x, y), before[static_cast<size_t>((y + pitch) * 320 + x)]) << x << "," << y;
    bool textDrawn = false;
    for (int y = 240 - pitch; y < 240; ++y) textDrawn = textDrawn || !RowIsBlack(bms.ConsoleBitmap, y);
    EXPECT_TRUE(textDrawn);
}

TEST_F(ConsoleTest, AnEmptyLineScrollsAndLeavesTheBandBlack) {
    const int pitch = LinePitch(bms);
    const std::vector<uint32_t> before = Pixels(bms.ConsoleBitmap);
    bms.ConsoleLine("", gui::clWhite);
    for (int y = 0; y + pitch < 240; ++y)
        ASSERT_EQ(bms.ConsoleBitmap.Pixel(7, y), before[static_cast<size_t>((y + pitch) * 320 + 7)]);
    for (int y = 240 - pitch; y < 240; ++y) EXPECT_TRUE(RowIsBlack(bms.ConsoleBitmap, y)) << y;
}

TEST_F(ConsoleTest, LinesWrittenBeforeTheDisplayIsReadyShowWithTheNextOne) {
    bms.ConsoleLine("early", gui::clYellow);
    EXPECT_EQ(display.FlipCount(), 0);
    display.Initialize();
    ASSERT_TRUE(display.ReadyToDraw());
    const int flips = display.FlipCount();
    bms.ConsoleLine("late", gui::clWhite);
    EXPECT_EQ(display.FlipCount(), flips + 1);
    // The screen now shows the whole console, the early line one pitch above the late one.
    media::TDirectDrawSurface& screen = *display.Surface();
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            ASSERT_EQ(screen.Pixel(x, y) & 0xFFFFFF, bms.ConsoleBitmap.Pixel(x, y) & 0xFFFFFF) << x << "," << y;
    const int pitch = LinePitch(bms);
    bool early = false;
    for (int y = 240 - 2 * pitch; y < 240 - pitch; ++y) early = early || !RowIsBlack(bms.ConsoleBitmap, y);
    EXPECT_TRUE(early);
}

TEST_F(ConsoleTest, LoadingWritesItsProgressLines) {
    display.Initialize();
    const int flips = display.FlipCount();
    ASSERT_TRUE(Load("#TITLE T\n#GENRE G\n#ARTIST A\n#00111:01\n", 0));
    // An empty line, "Start Loading:", three echoes, "Load Complete!", "Making time table..",
    // "Play Start!!".
    EXPECT_EQ(display.FlipCount(), flips + 8);
}

TEST_F(ConsoleTest, TickerScrollsSixteenPixelsAndOverlaysWithItsColourKey) {
    display.Initialize();
    ASSERT_TRUE(Load("#00111:01\n", 0));
    ASSERT_TRUE(bms.MessageSurface);
    media::TDirectDrawSurface& ticker = *bms.MessageSurface;
    media::TDirectDrawSurface& screen = *display.Surface();
    const uint32_t backdrop = screen.DeviceColor(gui::RGB(10, 20, 200));

    screen.Fill(backdrop);
    bms.TickerLine("first line", gui::clLime);
    // The text is on the bottom band; everything else of the ticker is see-through.
    bool text = false;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint32_t t = ticker.Pixel(x, y);
            if (y < 224) {
                ASSERT_EQ(t, 0u);
            }
            text = text || t != 0;
            ASSERT_EQ(screen.Pixel(x, y), t == 0 ? backdrop : t) << x << "," << y;
        }
    ASSERT_TRUE(text);

    std::vector<uint32_t> before;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) before.push_back(ticker.Pixel(x, y));
    bms.TickerLine("second", gui::clLime);
    for (int y = 0; y < 224; ++y)
        for (int x = 0; x < 320; ++x)
            ASSERT_EQ(ticker.Pixel(x, y), before[static_cast<size_t>((y + 16) * 320 + x)]) << x << "," << y;
    // The ticker draws in the colour asked for, whatever the surface's pixel format.
    bool green = false;
    for (int y = 224; y < 240; ++y)
        for (int x = 0; x < 320; ++x) green = green || ticker.Pixel(x, y) == ticker.DeviceColor(gui::clLime);
    EXPECT_TRUE(green);
}

TEST_F(ConsoleTest, PlaybackOnlyMakesNoTickerSurface) {
    ASSERT_TRUE(Load("#00111:01\n", 2));
    EXPECT_FALSE(bms.MessageSurface);
    bms.TickerLine("nothing to draw on", gui::clLime);
    EXPECT_FALSE(bms.Slots().BgaImages[0]);
}

}  // namespace
}  // namespace enginetest
