#include <gtest/gtest.h>

#include "gui/Bitmap.h"
#include "media/DIB.h"
#include "media/DXDraws.h"

using gui::PixelFormat;
using gui::Rect;
using media::TDirectDraw;
using media::TDirectDrawSurface;

namespace {

class SurfaceFormats : public ::testing::TestWithParam<PixelFormat> {
protected:
    TDirectDraw dd{GetParam()};
    uint32_t Red(TDirectDrawSurface& s) { return s.DeviceColor(gui::RGB(255, 0, 0)); }
    uint32_t Green(TDirectDrawSurface& s) { return s.DeviceColor(gui::RGB(0, 255, 0)); }
    uint32_t Blue(TDirectDrawSurface& s) { return s.DeviceColor(gui::RGB(0, 0, 255)); }
};

// Every pixel of `s` equals `inside` within `r` and `outside` elsewhere.
::testing::AssertionResult Filled(const TDirectDrawSurface& s, gui::TRect r, uint32_t inside, uint32_t outside) {
    for (int y = 0; y < s.Height(); ++y)
        for (int x = 0; x < s.Width(); ++x) {
            const bool in = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
            const uint32_t want = in ? inside : outside;
            if (s.Pixel(x, y) != want)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << s.Pixel(x, y) << ", want " << want;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_P(SurfaceFormats, EmptySurfacesRefuseDrawingWithoutRaising) {
    TDirectDrawSurface s(&dd);
    s.SetSize(0, 240);
    EXPECT_FALSE(s.IsCreated());
    EXPECT_EQ(0, s.Width());
    EXPECT_EQ(0, s.Height());
    EXPECT_EQ(0u, s.DeviceColor(gui::clWhite));
    EXPECT_FALSE(s.Fill(1));

    TDirectDrawSurface source(&dd);
    source.SetSize(4, 4);
    EXPECT_FALSE(s.FastBlit(0, 0, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_FALSE(source.FastBlit(0, 0, Rect(0, 0, 1, 1), 0, &s));
    s.DrawBlended(Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), &source, false, 128);
    try {
        s.Canvas().FillRect(Rect(0, 0, 1, 1));
        FAIL() << "canvas drawing on an empty surface must raise";
    } catch (const media::EDirectDrawSurfaceError& e) {
        EXPECT_STREQ("IDirectDrawSurface は作成されていません", e.what());
    }
}

TEST_P(SurfaceFormats, NewSurfaceHasColourKeyZeroAndTheOwnersFormat) {
    TDirectDrawSurface s(&dd);
    s.SetTransparentColor(7);
    s.SetSize(3, 2);
    EXPECT_EQ(0u, s.TransparentColor());
    EXPECT_EQ(GetParam(), s.Format());
    EXPECT_EQ(3, s.Width());
    EXPECT_GE(s.Pitch(), 3 * gui::BytesPerPixel(GetParam()));
    EXPECT_EQ(0, s.Pitch() % 4);
}

TEST_P(SurfaceFormats, DeviceColorOfBlackIsZeroAndColoursRoundTrip) {
    TDirectDrawSurface s(&dd);
    s.SetSize(1, 1);
    EXPECT_EQ(0u, s.DeviceColor(gui::clBlack));
    for (gui::TColor c : {gui::clWhite, gui::clRed, gui::clLime, gui::clBlue, gui::clFuchsia, gui::clYellow}) {
        const uint32_t pixel = s.DeviceColor(c);
        EXPECT_EQ(gui::ColorToXrgb(c), gui::PixelToXrgb(pixel, s.Format(), s.PaletteInForce())) << std::hex << c;
    }
}

TEST_P(SurfaceFormats, FillRectFillsOnlyTheInsidePart) {
    TDirectDrawSurface s(&dd);
    s.SetSize(10, 8);
    ASSERT_TRUE(s.Fill(Red(s)));
    EXPECT_TRUE(Filled(s, Rect(0, 0, 10, 8), Red(s), Red(s)));
    s.FillRect(Rect(-5, 6, 3, 20), Blue(s));
    EXPECT_TRUE(Filled(s, Rect(0, 6, 3, 8), Blue(s), Red(s)));
    s.FillRect(Rect(10, 0, 20, 8), Green(s));
    s.FillRect(Rect(4, 4, 4, 6), Green(s));
    EXPECT_TRUE(Filled(s, Rect(0, 6, 3, 8), Blue(s), Red(s)));
}

TEST_P(SurfaceFormats, FastBlitCopiesOnlyRectanglesThatFit) {
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(8, 8);
    source.SetSize(4, 4);
    dest.Fill(Red(dest));
    source.Fill(Blue(source));
    EXPECT_TRUE(dest.FastBlit(2, 3, Rect(1, 1, 4, 3), 0, &source));
    EXPECT_TRUE(Filled(dest, Rect(2, 3, 5, 5), Blue(dest), Red(dest)));
    dest.Fill(Red(dest));
    // Destination too small, source rectangle outside the source, empty rectangle: no effect.
    EXPECT_FALSE(dest.FastBlit(6, 0, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_FALSE(dest.FastBlit(-1, 0, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_FALSE(dest.FastBlit(0, 5, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(-1, 0, 3, 4), 0, &source));
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(0, 0, 5, 4), 0, &source));
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(2, 2, 2, 4), 0, &source));
    EXPECT_EQ(media::DDERR_INVALIDRECT, dest.LastResult());
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(0, 0, 1, 1), 0, nullptr));
    EXPECT_TRUE(Filled(dest, Rect(0, 0, 8, 8), Red(dest), Red(dest)));
    EXPECT_TRUE(dest.FastBlit(4, 4, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_EQ(media::DD_OK, dest.LastResult());
    EXPECT_TRUE(dest.FastBlit(0, 0, Rect(0, 0, 4, 4), media::DDBLTFAST_WAIT, &source));
    // A destination colour key is not supported: refused rather than ignored.
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(0, 0, 4, 4), 2, &source));
    EXPECT_EQ(media::DDERR_INVALIDPARAMS, dest.LastResult());
}

TEST_P(SurfaceFormats, ColourKeyedBlitSkipsKeyPixels) {
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(4, 1);
    source.SetSize(4, 1);
    dest.Fill(Red(dest));
    const uint32_t key = source.DeviceColor(gui::clFuchsia);
    source.SetTransparentColor(key);
    source.SetPixel(0, 0, key);
    source.SetPixel(1, 0, Blue(source));
    source.SetPixel(2, 0, key);
    source.SetPixel(3, 0, Green(source));
    ASSERT_TRUE(dest.FastBlit(0, 0, Rect(0, 0, 4, 1), media::DDBLTFAST_SRCCOLORKEY, &source));
    EXPECT_EQ(Red(dest), dest.Pixel(0, 0));
    EXPECT_EQ(Blue(dest), dest.Pixel(1, 0));
    EXPECT_EQ(Red(dest), dest.Pixel(2, 0));
    EXPECT_EQ(Green(dest), dest.Pixel(3, 0));
    ASSERT_TRUE(dest.FastBlit(0, 0, Rect(0, 0, 4, 1), media::DDBLTFAST_NOCOLORKEY, &source));
    EXPECT_EQ(key, dest.Pixel(0, 0));
}

TEST_P(SurfaceFormats, BlitWithinOneSurfaceScrollsLikeTheTicker) {
    TDirectDrawSurface s(&dd);
    s.SetSize(3, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 3; ++x) s.SetPixel(x, y, static_cast<uint32_t>(y + 1));
    ASSERT_TRUE(s.FastBlit(0, 0, Rect(0, 2, 3, 6), 0, &s));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(static_cast<uint32_t>(y + 3), s.Pixel(1, y));
    // Downwards, and sideways within a row with the colour key.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 3; ++x) s.SetPixel(x, y, static_cast<uint32_t>(10 * y + x + 1));
    ASSERT_TRUE(s.FastBlit(0, 2, Rect(0, 0, 3, 4), 0, &s));
    for (int y = 2; y < 6; ++y) EXPECT_EQ(static_cast<uint32_t>(10 * (y - 2) + 1), s.Pixel(0, y));
    ASSERT_TRUE(s.FastBlit(1, 0, Rect(0, 0, 2, 1), media::DDBLTFAST_SRCCOLORKEY, &s));
    EXPECT_EQ(1u, s.Pixel(1, 0));
    EXPECT_EQ(2u, s.Pixel(2, 0));
}

TEST_P(SurfaceFormats, DrawBlendedCopiesAtFullAlphaAndDrawsNothingAtZero) {
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(6, 6);
    source.SetSize(2, 2);
    dest.Fill(Red(dest));
    source.Fill(Blue(source));
    dest.DrawBlended(Rect(0, 0, 2, 2), Rect(0, 0, 2, 2), &source, false, 0);
    EXPECT_TRUE(Filled(dest, Rect(0, 0, 6, 6), Red(dest), Red(dest)));
    // A source rectangle reaching outside the source, or an empty one, draws nothing.
    dest.DrawBlended(Rect(0, 0, 2, 2), Rect(0, 0, 3, 2), &source, false, 255);
    dest.DrawBlended(Rect(0, 0, 2, 2), Rect(1, 1, 1, 2), &source, false, 255);
    dest.DrawBlended(Rect(2, 2, 2, 4), Rect(0, 0, 2, 2), &source, false, 255);
    EXPECT_TRUE(Filled(dest, Rect(0, 0, 6, 6), Red(dest), Red(dest)));
    // Alpha 255 copies, scaled 2x, colour-keyed when asked.
    source.SetPixel(1, 1, 0);
    dest.DrawBlended(Rect(1, 1, 5, 5), Rect(0, 0, 2, 2), &source, true, 300);
    EXPECT_EQ(Blue(dest), dest.Pixel(1, 1));
    EXPECT_EQ(Blue(dest), dest.Pixel(4, 1));
    EXPECT_EQ(Blue(dest), dest.Pixel(1, 4));
    EXPECT_EQ(Blue(dest), dest.Pixel(3, 2));
    EXPECT_EQ(Red(dest), dest.Pixel(3, 3));
    EXPECT_EQ(Red(dest), dest.Pixel(4, 4));
    EXPECT_EQ(Red(dest), dest.Pixel(5, 5));
    EXPECT_EQ(Red(dest), dest.Pixel(0, 0));
}

TEST_P(SurfaceFormats, DrawBlendedClipsAndStartsTheSourceAtTheClippedOffset) {
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(4, 4);
    source.SetSize(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) source.SetPixel(x, y, static_cast<uint32_t>(1 + x + 4 * y));
    dest.Fill(0);
    // Destination starts at (-2, -1): its visible part shows source columns 2..3, rows 1..3.
    dest.DrawBlended(Rect(-2, -1, 2, 3), Rect(0, 0, 4, 4), &source, false, 255);
    EXPECT_EQ(source.Pixel(2, 1), dest.Pixel(0, 0));
    EXPECT_EQ(source.Pixel(3, 1), dest.Pixel(1, 0));
    EXPECT_EQ(source.Pixel(3, 3), dest.Pixel(1, 2));
    EXPECT_EQ(0u, dest.Pixel(2, 0));
    EXPECT_EQ(0u, dest.Pixel(0, 3));
    // Entirely outside: nothing.
    dest.Fill(0);
    dest.DrawBlended(Rect(4, 0, 8, 4), Rect(0, 0, 4, 4), &source, false, 255);
    EXPECT_TRUE(Filled(dest, Rect(0, 0, 4, 4), 0, 0));
}

TEST_P(SurfaceFormats, DrawBlendedBlendsOnlyOnRgbSurfaces) {
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(1, 1);
    source.SetSize(1, 1);
    dest.Fill(dest.DeviceColor(gui::clBlack));
    source.Fill(source.DeviceColor(gui::clWhite));
    dest.DrawBlended(Rect(0, 0, 1, 1), Rect(0, 0, 1, 1), &source, true, 128);
    const uint32_t xrgb = gui::PixelToXrgb(dest.Pixel(0, 0), dest.Format(), dest.PaletteInForce());
    if (GetParam() == PixelFormat::Indexed8) {
        EXPECT_EQ(0xFFFFFFu, xrgb);
    } else {
        for (int shift : {0, 8, 16}) {
            const int channel = static_cast<int>((xrgb >> shift) & 0xFF);
            EXPECT_NEAR(128, channel, 8) << shift;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, SurfaceFormats,
                         ::testing::Values(PixelFormat::Indexed8, PixelFormat::RGB565, PixelFormat::XRGB8888),
                         [](const ::testing::TestParamInfo<PixelFormat>& param) {
                             switch (param.param) {
                                 case PixelFormat::Indexed8: return std::string("Indexed8");
                                 case PixelFormat::RGB565: return std::string("RGB565");
                                 default: return std::string("XRGB8888");
                             }
                         });

TEST(SurfaceBlend, WeightsFollowAlpha) {
    TDirectDraw dd(PixelFormat::XRGB8888);
    TDirectDrawSurface dest(&dd), source(&dd);
    dest.SetSize(1, 1);
    source.SetSize(1, 1);
    for (int alpha : {1, 2, 64, 200, 254}) {
        dest.SetPixel(0, 0, 0x0000FF);
        source.SetPixel(0, 0, 0xFF0000);
        dest.DrawBlended(Rect(0, 0, 1, 1), Rect(0, 0, 1, 1), &source, false, alpha);
        const uint32_t p = dest.Pixel(0, 0);
        EXPECT_NEAR(alpha, static_cast<int>(p >> 16), 1) << alpha;
        EXPECT_NEAR(255 - alpha, static_cast<int>(p & 0xFF), 1) << alpha;
    }
}

TEST(SurfaceFormatsMixed, BlitsBetweenDifferentFormatsAreRefused) {
    TDirectDraw a(PixelFormat::RGB565), b(PixelFormat::XRGB8888);
    TDirectDrawSurface dest(&a), source(&b);
    dest.SetSize(2, 2);
    source.SetSize(2, 2);
    EXPECT_FALSE(dest.FastBlit(0, 0, Rect(0, 0, 2, 2), 0, &source));
}

TEST(SurfaceOwnership, OwnerFreesPixelsAndSurfacesReportEmpty) {
    auto dd = std::make_unique<TDirectDraw>(PixelFormat::RGB565);
    TDirectDrawSurface kept(dd.get());
    kept.SetSize(8, 8);
    {
        TDirectDrawSurface shortLived(dd.get());
        EXPECT_EQ(2, dd->SurfaceCount());
    }
    EXPECT_EQ(1, dd->SurfaceCount());
    dd.reset();
    EXPECT_FALSE(kept.IsCreated());
    EXPECT_EQ(nullptr, kept.DDraw());
    EXPECT_EQ(nullptr, kept.Bits());
    EXPECT_FALSE(kept.Fill(0));
    EXPECT_THROW(kept.SetSize(2, 2), media::EDirectDrawSurfaceError);
    try {
        kept.SetSize(2, 2);
    } catch (const media::EDirectDrawSurfaceError& e) {
        EXPECT_STREQ("サーフェース を作成できません", e.what());
    }
}

TEST(SurfaceOwnership, HugeSizesRaiseInsteadOfAllocating) {
    TDirectDraw dd;
    TDirectDrawSurface s(&dd);
    EXPECT_THROW(s.SetSize(100000, 100000), media::EDirectDrawSurfaceError);
    EXPECT_FALSE(s.IsCreated());
}

TEST(SurfacePictures, LoadGraphicMapsColoursToTheNearestPaletteEntry) {
    TDirectDraw dd(PixelFormat::Indexed8);
    gui::TColorTable table{};
    table[0] = {0, 0, 0, 0};
    table[1] = {0, 0, 200, 0};    // red 200
    table[2] = {255, 0, 255, 0};  // magenta
    table[3] = {255, 0, 255, 0};  // magenta again: the lower index wins
    for (size_t i = 4; i < 256; ++i) table[i] = {255, 255, 255, 0};
    dd.Palette().SetEntries(table);
    gui::Bitmap picture;
    picture.SetSize(3, 1);
    picture.SetPixel(0, 0, 0xF00000);  // nearest is red 200
    picture.SetPixel(1, 0, 0xFF00FF);
    picture.SetPixel(2, 0, 0x101010);
    TDirectDrawSurface s(&dd);
    s.LoadGraphic(picture);
    ASSERT_EQ(3, s.Width());
    EXPECT_EQ(1u, s.Pixel(0, 0));
    EXPECT_EQ(2u, s.Pixel(1, 0));
    EXPECT_EQ(0u, s.Pixel(2, 0));
    EXPECT_EQ(2u, s.DeviceColor(gui::clFuchsia));
}

TEST(SurfacePictures, LoadGraphicOfADibTakesItsSizeAndPixels) {
    media::TDIB dib;
    dib.SetSize(2, 3, 8);
    gui::TColorTable table{};
    table[5] = {0, 255, 0, 0};
    dib.SetColorTable(table);
    dib.ScanLine(2)[1] = 5;
    TDirectDraw dd(PixelFormat::RGB565);
    TDirectDrawSurface s(&dd);
    s.LoadGraphic(dib);
    ASSERT_EQ(2, s.Width());
    ASSERT_EQ(3, s.Height());
    EXPECT_EQ(0x07E0u, s.Pixel(1, 2));
    EXPECT_EQ(0u, s.Pixel(0, 2));
}

TEST(SurfaceCanvas, LostSurfaceRefusesCanvasDrawingAndBlits) {
    TDirectDraw dd;
    TDirectDrawSurface s(&dd), source(&dd);
    s.SetSize(4, 4);
    source.SetSize(4, 4);
    s.SetLost(true);
    EXPECT_FALSE(s.FastBlit(0, 0, Rect(0, 0, 4, 4), 0, &source));
    EXPECT_EQ(media::DDERR_SURFACELOST, s.LastResult());
    try {
        s.Canvas().TextOut(0, 0, "x");
        FAIL();
    } catch (const gui::EInvalidOperation& e) {
        EXPECT_STREQ("Canvas に対する描画ができません", e.what());
    }
}
