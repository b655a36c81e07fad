#include "PlayRig.h"

#include "support/BmpBuilder.h"

namespace playtest {
namespace {

using gui::Rect;

constexpr char kOneArrow[] = "#00111:01\n";  // lane 0 at position 128

class DrawTest : public PlayRig {};

TEST_F(DrawTest, BackdropPulsesBetweenMagentaAndBlueWithTheRemainderTakenPositive) {
    ASSERT_TRUE(Load(kOneArrow));
    const std::pair<int32_t, uint32_t> cases[] = {{0, 255}, {127, 1}, {128, 1}, {253, 251}, {-1, 251}, {254, 255}};
    for (auto [p, red] : cases) {
        Frame(p);
        EXPECT_EQ(Xrgb(316, 236), (red << 16) | 0xFF) << "P = " << p;
    }
}

TEST_F(DrawTest, ReceptorsFlashInTheFirstQuarterOfEachBeat) {
    ASSERT_TRUE(Load(kOneArrow));
    for (int32_t p : {0, 7, 32, 39, -32, -25, -64}) {
        Frame(p);
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(CellAt(8 + 32 * k, 32, ReceptorCell(k, true))) << "P = " << p << ", column " << k;
            EXPECT_FALSE(CellAt(8 + 32 * k, 32, ReceptorCell(k, false))) << "P = " << p << ", column " << k;
        }
    }
    for (int32_t p : {8, 31, 40, -1, -8, -24}) {
        Frame(p);
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(CellAt(8 + 32 * k, 32, ReceptorCell(k, false))) << "P = " << p << ", column " << k;
    }
}

TEST_F(DrawTest, ArrowsScrollOnePixelPerTickAndAnimateEveryEightTicks) {
    ASSERT_TRUE(Load("#00111:01\n#00113:01\n#00115:01\n#00116:01\n"));
    const std::pair<int32_t, int> cases[] = {{-8, 3}, {-1, 3}, {0, 0}, {7, 0}, {8, 1}, {16, 2}, {24, 3}, {50, 2}};
    for (auto [p, phase] : cases) {
        Frame(p);
        const int y = 128 - p + 32;
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(CellAt(8 + 32 * k, y, ArrowCell(k, phase))) << "P = " << p << ", lane " << k;
    }
    // An arrow enters at the bottom edge 208 ticks before its position.
    Frame(128 - 208);
    EXPECT_TRUE(Plain(Rect(0, 64, 320, 240), Backdrop()));
    Frame(128 - 207);
    EXPECT_TRUE(CellAt(8, 239, ArrowCell(0, (-79 >> 3) & 3)));
}

TEST_F(DrawTest, ArrowsAreClippedAtTheBottomAndTopEdges) {
    ASSERT_TRUE(Load(kOneArrow));
    Frame(128 - 198);  // y = 230: only the top ten rows
    EXPECT_TRUE(CellAt(8, 230, ArrowCell(0, (-70 >> 3) & 3)));
    for (int32_t p : {128 + 62, 128 + 63, 128 + 64}) {  // y = -30, -31, -32
        Frame(p);
        EXPECT_TRUE(Plain(Rect(0, 0, 320, 32), Backdrop())) << "P = " << p;
    }
    Frame(128 + 61);  // y = -29: the cell's last row on screen row 0
    EXPECT_TRUE(CellAt(8, -29, ArrowCell(0, (189 >> 3) & 3)));
}

TEST_F(DrawTest, DrawClippedCutsTheSourceToTheScreen) {
    media::TDirectDraw ddraw;
    media::TDirectDrawSurface source(&ddraw), screen(&ddraw);
    source.SetSize(60, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) source.SetPixel(x, y, static_cast<uint32_t>(1 + x + 60 * y));
    screen.SetSize(320, 240);
    screen.Fill(0);
    const gui::TRect cell = Rect(30, 10, 60, 40);  // a 30×30 cell away from the source's corner

    play::DrawClipped(-5, -3, cell, media::DDBLTFAST_NOCOLORKEY, &source, &screen);
    EXPECT_EQ(screen.Pixel(0, 0), source.Pixel(35, 13));
    EXPECT_EQ(screen.Pixel(24, 26), source.Pixel(59, 39));
    EXPECT_EQ(screen.Pixel(25, 0), 0u);
    EXPECT_EQ(screen.Pixel(0, 27), 0u);

    play::DrawClipped(300, 235, cell, media::DDBLTFAST_NOCOLORKEY, &source, &screen);
    EXPECT_EQ(screen.Pixel(300, 235), source.Pixel(30, 10));
    EXPECT_EQ(screen.Pixel(319, 239), source.Pixel(49, 14));

    screen.Fill(0);
    for (auto [x, y] : {std::pair{-30, 0}, {0, -30}, {320, 0}, {0, 240}, {-1000000, 5}, {5, 1000000}})
        play::DrawClipped(x, y, cell, media::DDBLTFAST_NOCOLORKEY, &source, &screen);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) ASSERT_EQ(screen.Pixel(x, y), 0u) << x << "," << y;
}

TEST_F(DrawTest, PlayerModeThreePutsEightReceptorsSideBySide) {
    ASSERT_TRUE(Load("#PLAYER 3\n#00121:01\n"));
    Frame(8);
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(CellAt(32 + 32 * k, 32, ReceptorCell(k, false))) << k;
        EXPECT_TRUE(CellAt(160 + 32 * k, 32, ReceptorCell(k, false))) << k;
    }
    EXPECT_TRUE(CellAt(160, 152, ArrowCell(0, 1)));
    EXPECT_TRUE(Plain(Rect(0, 32, 32, 62), Backdrop()));
    EXPECT_TRUE(Plain(Rect(286, 32, 320, 62), Backdrop()));
}

TEST_F(DrawTest, PlayerModesOneAndTwoDifferOnlyInTheSecondSidesReceptors) {
    for (int mode : {1, 2}) {
        ASSERT_TRUE(Load("#PLAYER " + std::to_string(mode) + "\n#00121:01\n#00126:01\n"));
        Frame(8);
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(CellAt(8 + 32 * k, 32, ReceptorCell(k, false))) << mode << ":" << k;
            if (mode == 2) {
                EXPECT_TRUE(CellAt(184 + 32 * k, 32, ReceptorCell(k, false))) << k;
            }
        }
        if (mode == 1) {
            EXPECT_TRUE(Plain(Rect(140, 32, 320, 62), Backdrop()));
        }
        EXPECT_TRUE(CellAt(184, 152, ArrowCell(0, 1))) << mode;
        EXPECT_TRUE(CellAt(280, 152, ArrowCell(3, 1))) << mode;
    }
}

TEST_F(DrawTest, OtherPlayerModesPutTheSecondSideAtMinusOne) {
    ASSERT_TRUE(Load("#PLAYER 0\n#00121:01\n#00122:01\n"));
    Frame(8);
    // Lane 4 loses its leftmost column; channel 22 has no lane and draws nothing.
    EXPECT_TRUE(CellAt(-1, 152, ArrowCell(0, 1)));
    // Mode 0 draws no second-side receptors: the first side's show undisturbed.
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(CellAt(8 + 32 * k, 32, ReceptorCell(k, false))) << k;

    ASSERT_TRUE(Load("#PLAYER 4\n#00121:01\n"));
    Frame(8);
    EXPECT_TRUE(CellAt(-1, 152, ArrowCell(0, 1)));
    // The lane-4 receptor would not lie wholly on the screen: only lanes 5 to 7 are drawn, on
    // top of the first side's receptors.
    EXPECT_TRUE(Plain(Rect(0, 32, 8, 62), Backdrop()));
    for (int k = 1; k < 4; ++k) EXPECT_TRUE(CellAt(-1 + 32 * k, 32, ReceptorCell(k, false), std::nullopt)) << k;
}

TEST_F(DrawTest, HiddenFadesArrowsWithAlphaTwiceTheirHeightAboveSeventy) {
    ASSERT_TRUE(Load(kOneArrow));
    settings.Hidden = true;
    const auto yAt = [](int32_t p) { return 128 - p + 32; };
    const auto expectBlend = [&](int32_t p, int alpha) {
        const int y = yAt(p);
        const gui::TRect cell = ArrowCell(0, (p >> 3) & 3);
        media::TDirectDrawSurface reference(display.DirectDraw());
        reference.SetSize(320, 240);
        reference.Fill(Backdrop());
        reference.DrawBlended(Rect(8, y, 38, y + 30), cell, &Sheet(), true, alpha);
        for (int j = 0; j < 30; ++j)
            for (int i = 0; i < 30; ++i)
                ASSERT_EQ(At(8 + i, y + j), reference.Pixel(8 + i, y + j)) << "y " << y << " at " << i << "," << j;
    };

    Frame(128 + 32 - 198);
    EXPECT_TRUE(CellAt(8, 198, ArrowCell(0, ((128 + 32 - 198) >> 3) & 3)));
    Frame(128 + 32 - 197);
    expectBlend(128 + 32 - 197, 254);
    Frame(128 + 32 - 71);
    expectBlend(128 + 32 - 71, 2);
    EXPECT_FALSE(CellAt(8, 71, ArrowCell(0, ((128 + 32 - 71) >> 3) & 3)));
    Frame(128 + 32 - 70);
    EXPECT_TRUE(Plain(Rect(0, 70, 320, 100), Backdrop()));

    settings.Hidden = false;
    Frame(128 + 32 - 70);
    EXPECT_TRUE(CellAt(8, 70, ArrowCell(0, ((128 + 32 - 70) >> 3) & 3)));
}

TEST_F(DrawTest, HiddenInTheTwoHundredFiftySixColourModeCopiesInsteadOfBlending) {
    ASSERT_TRUE(Load(kOneArrow, Screen::Full8));
    ASSERT_EQ(Surface().Format(), gui::PixelFormat::Indexed8);
    settings.Hidden = true;
    Frame(128 + 32 - 71);
    EXPECT_TRUE(CellAt(8, 71, ArrowCell(0, ((128 + 32 - 71) >> 3) & 3)));
    Frame(128 + 32 - 70);
    EXPECT_TRUE(Plain(Rect(0, 70, 320, 100), Backdrop()));
}

TEST_F(DrawTest, TheSheetsMagentaIsTheColourKeyInEveryPixelFormat) {
    for (Screen screen : {Screen::Window, Screen::Full16, Screen::Full8}) {
        ASSERT_TRUE(Load("#00111:01\n#00113:01\n#00115:01\n#00116:01\n", screen)) << ScreenName(screen);
        const media::TDIB& dib = play::DM->DXDIB1.DIB();
        // Every magenta pixel of the picture became the key on the surface, whichever of the
        // palette's two magenta entries the picture uses.
        int magenta = 0;
        for (int y = 0; y < dib.Height(); ++y)
            for (int x = 0; x < dib.Width(); ++x)
                if ((dib.PixelXrgb(x, y) & 0xFFFFFF) == 0xFF00FF) {
                    ++magenta;
                    ASSERT_EQ(Sheet().Pixel(x, y), Sheet().TransparentColor()) << ScreenName(screen);
                }
        EXPECT_GT(magenta, 0);
        Frame(50);
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(CellAt(8 + 32 * k, 110, ArrowCell(k, 2))) << ScreenName(screen) << " lane " << k;
    }
}

TEST_F(DrawTest, BaseAndLayerImagesDrawOverTheBlackBackdropWhenLoaded) {
    // 256×256 pictures fill the screen in the default fit mode.
    testsupport::Picture red{256, 256, std::vector<uint32_t>(256 * 256, 0xFF0000)};
    testsupport::Picture layer{256, 256, std::vector<uint32_t>(256 * 256, 0x000000)};
    for (int y = 100; y < 156; ++y)
        for (int x = 150; x < 200; ++x) layer.pixels[static_cast<size_t>(y) * 256 + x] = 0x00FF00;
    testsupport::WriteFile(dir / "red.bmp", testsupport::MakeBmpFile(red, {}));
    testsupport::WriteFile(dir / "layer.bmp", testsupport::MakeBmpFile(layer, {}));
    // Base 01 at 0, layer 02 at 64, base 03 (never loaded) at 128.
    ASSERT_TRUE(Load("#BMP01 red.bmp\n#BMP02 layer.bmp\n#BMP03 missing.bmp\n#00004:01\n#00007:0002\n#00104:03\n"));
    EXPECT_TRUE(bms->Slots().HasBga);

    // A frame draws the images in force before it triggers, so a change shows one frame later.
    Frame(-10);
    EXPECT_EQ(Xrgb(316, 236), 0x000000u);
    Frame(0);
    EXPECT_EQ(play::State().BaseImage, 1);
    EXPECT_EQ(Xrgb(316, 236), 0x000000u);
    Frame(1);
    EXPECT_EQ(Xrgb(316, 236), 0xFF0000u);
    EXPECT_EQ(Xrgb(220, 120), 0xFF0000u);
    Frame(64);
    Frame(65);
    EXPECT_EQ(Xrgb(316, 236), 0xFF0000u);  // the layer's black is its colour key
    EXPECT_EQ(Xrgb(220, 120), 0x00FF00u);
    Frame(128);
    Frame(129);
    EXPECT_EQ(play::State().BaseImage, 3);
    EXPECT_EQ(Xrgb(316, 236), 0x000000u);
    EXPECT_EQ(Xrgb(220, 120), 0x00FF00u);
}

TEST_F(DrawTest, TheExtendedReadingDrawsLongNotesInTheirLaneAndPicturesOfAnyBase36Slot) {
    testsupport::Picture red{256, 256, std::vector<uint32_t>(256 * 256, 0xFF0000)};
    testsupport::WriteFile(dir / "red.bmp", testsupport::MakeBmpFile(red, {}));
    extended = true;
    // Picture DW (slot 500) at 0; a long note on channel 51 from 128 to 192; a key on 18 at 128.
    ASSERT_TRUE(Load("#BMPDW red.bmp\n#00004:DW\n#00151:0102\n#00118:03\n"));
    Frame(0);
    Frame(60);
    EXPECT_EQ(play::State().BaseImage, 500);
    EXPECT_EQ(Xrgb(316, 236), 0xFF0000u);
    // The start is an arrow of lane 0 (y = 128 - 60 + 32); its end and the key draw nothing.
    EXPECT_TRUE(CellAt(8, 100, ArrowCell(0, 3)));
    EXPECT_TRUE(Plain(gui::Rect(0, 132, 320, 236), Backdrop()));
}

TEST_F(DrawTest, ImageChangesWithoutPicturesKeepThePulsingBackdrop) {
    ASSERT_TRUE(Load("#BMP01 red.bmp\n#00004:01\n#00007:02\n", Screen::Window, 1));
    EXPECT_FALSE(bms->Slots().HasBga);
    Frame(0);
    Frame(254);
    EXPECT_EQ(play::State().BaseImage, 1);
    EXPECT_EQ(play::State().LayerImage, 2);
    EXPECT_EQ(Xrgb(316, 236), 0xFF00FFu);
}

TEST_F(DrawTest, ShowParamsAddsAGreenLineEachFrameAboveThePreviousOnes) {
    ASSERT_TRUE(Load(kOneArrow));
    const auto greenRows = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < 320; ++x) n += Xrgb(x, y) == 0x00FF00;
        return n;
    };
    Frame(0);
    EXPECT_EQ(greenRows(0, 240), 0);
    settings.ShowParams = true;
    Frame(1);
    EXPECT_GT(greenRows(224, 240), 20);
    EXPECT_EQ(greenRows(0, 224), 0);
    Frame(2);
    EXPECT_GT(greenRows(224, 240), 20);
    EXPECT_GT(greenRows(208, 224), 20);
}

TEST(ParameterLine, PiecesAndNumberFormats) {
    EXPECT_EQ(play::ParameterLine(1234, 60, 12, 345, 1, -1, 567),
              "001234mSec 060fps 00012/00345obj BMP:01:FF FNo.000567");
    EXPECT_EQ(play::ParameterLine(-12, 5, 0, 3, -1, -1, 1), "-00012mSec 005fps 00000/00003obj BMP:FF:FF FNo.000001");
    EXPECT_EQ(play::ParameterLine(1234567, 1000, 123456, 99999, 0x1AB, 0xFE, 1234567),
              "1234567mSec 1000fps 123456/99999obj BMP:AB:FE FNo.1234567");
    EXPECT_EQ(play::ParameterLine(-123456, 0, 0, -1, 0, 0, 0), "-123456mSec 000fps 00000/-00001obj BMP:00:00 FNo.000000");
    EXPECT_EQ(play::ParameterLine(INT32_MIN, 0, 0, 0, 0, 0, 0).substr(0, 11), "-2147483648");
}

}  // namespace
}  // namespace playtest
