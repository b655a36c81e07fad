#include <gtest/gtest.h>

#include <SDL_ttf.h>

#include "gui/Bitmap.h"
#include "gui/Fonts.h"
#include "media/DXDraws.h"

namespace {

int CountPixels(const gui::Bitmap& b, uint32_t xrgb, gui::TRect area) {
    int n = 0;
    for (int y = area.Top; y < area.Bottom; ++y)
        for (int x = area.Left; x < area.Right; ++x) n += b.Pixel(x, y) == xrgb;
    return n;
}

gui::Bitmap Blank(int w, int h, gui::TColor color) {
    gui::Bitmap b;
    b.Canvas().Brush().Color = color;
    b.SetSize(w, h);
    return b;
}

}  // namespace

TEST(CanvasFont, DefaultFontIsAboutTwelvePixelsAndHasJapanese) {
    gui::Bitmap b;
    const int h = b.Canvas().TextHeight("A");
    EXPECT_GE(h, 10);
    EXPECT_LE(h, 20);
    EXPECT_GT(b.Canvas().TextWidth("AAAA"), b.Canvas().TextWidth("AA"));
    TTF_Font* font = gui::OpenFont("", 12);
    ASSERT_NE(nullptr, font);
    EXPECT_TRUE(TTF_GlyphIsProvided(font, 0x65E5));  // 日
    TTF_Font* gothic = gui::OpenFont("ＭＳ Ｐゴシック", 12);
    ASSERT_NE(nullptr, gothic);
    EXPECT_TRUE(TTF_GlyphIsProvided(gothic, 0x3042));  // あ
}

TEST(CanvasText, SolidBrushFillsTheTextCellAndClearBrushKeepsTheBackground) {
    gui::Bitmap b = Blank(80, 20, gui::clBlue);
    gui::TCanvas& c = b.Canvas();
    c.Font().Color = gui::clYellow;
    c.Brush().Color = gui::clBlack;
    c.TextOut(2, 1, "Hi");
    const int w = c.TextWidth("Hi"), h = c.TextHeight("Hi");
    const gui::TRect cell = gui::Bounds(2, 1, w, h);
    EXPECT_GT(CountPixels(b, 0xFFFF00, cell), 5);
    EXPECT_GT(CountPixels(b, 0x000000, cell), w * h / 3);
    EXPECT_EQ(0, CountPixels(b, 0x0000FF, cell));
    EXPECT_EQ(80 * 20 - w * h, CountPixels(b, 0x0000FF, gui::Rect(0, 0, 80, 20)));

    gui::Bitmap clear = Blank(80, 20, gui::clBlue);
    clear.Canvas().Font().Color = gui::clWhite;
    clear.Canvas().Brush().Style = gui::TBrushStyle::bsClear;
    clear.Canvas().TextOut(2, 1, "日本");
    EXPECT_GT(CountPixels(clear, 0xFFFFFF, gui::Rect(0, 0, 80, 20)), 10);
    EXPECT_EQ(0, CountPixels(clear, 0x000000, gui::Rect(0, 0, 80, 20)));
    EXPECT_GT(CountPixels(clear, 0x0000FF, gui::Rect(0, 0, 80, 20)), 80 * 20 / 2);
    // Text running off the edges is clipped.
    clear.Canvas().TextOut(-5, 15, "clipped text that is long");
}

TEST(CanvasText, CharactersTheFontLacksAreDrawnInAFontThatHasThem) {
    // Hangul: the Japanese gothic has none, and would draw its missing-glyph boxes.
    TTF_Font* gothic = gui::OpenFont("", 12);
    ASSERT_NE(nullptr, gothic);
    ASSERT_FALSE(TTF_GlyphIsProvided32(gothic, U'사'));
    TTF_Font* korean = gui::OpenFallbackFont(U'사', 12);
    ASSERT_NE(nullptr, korean);
    ASSERT_TRUE(TTF_GlyphIsProvided32(korean, U'랑'));
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(korean, "사랑", SDL_Color{255, 255, 255, 255});
    ASSERT_NE(nullptr, rendered);
    SDL_Surface* expected = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    ASSERT_NE(nullptr, expected);

    gui::Bitmap b = Blank(expected->w + 2, expected->h + 2, gui::clBlack);
    b.Canvas().Font().Color = gui::clWhite;
    b.Canvas().Brush().Style = gui::TBrushStyle::bsClear;
    b.Canvas().TextOut(0, 0, "사랑");
    // White over black: each pixel's level is the glyph's coverage.
    for (int y = 0; y < expected->h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(expected->pixels) + y * expected->pitch);
        for (int x = 0; x < expected->w; ++x) ASSERT_EQ(b.Pixel(x, y) & 0xFF, row[x] >> 24) << x << "," << y;
    }
    int w = 0, h = 0, wA = 0;
    TTF_SizeUTF8(korean, "사랑", &w, &h);
    TTF_SizeUTF8(gothic, "A", &wA, &h);
    EXPECT_EQ(b.Canvas().TextWidth("A사랑"), wA + w);
    SDL_FreeSurface(expected);
}

TEST(CanvasText, EightBitTargetsGetOnlyPaletteColours) {
    media::TDirectDraw dd(gui::PixelFormat::Indexed8);
    media::TDirectDrawSurface s(&dd);
    s.SetSize(60, 20);
    s.Fill(s.DeviceColor(gui::clBlack));
    s.Canvas().Font().Color = gui::clWhite;
    s.Canvas().Brush().Style = gui::TBrushStyle::bsClear;
    s.Canvas().TextOut(0, 0, "Wm");
    s.Canvas().Release();
    const uint32_t white = s.DeviceColor(gui::clWhite), black = s.DeviceColor(gui::clBlack);
    int whites = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x) {
            const uint32_t p = s.Pixel(x, y);
            EXPECT_TRUE(p == white || p == black) << x << "," << y;
            whites += p == white;
        }
    EXPECT_GT(whites, 10);
}

TEST(CanvasBitmaps, DrawingABitmapOntoItselfScrollsIt) {
    gui::Bitmap b = Blank(2, 5, gui::clBlack);
    for (int y = 0; y < 5; ++y) b.SetPixel(0, y, static_cast<uint32_t>(y + 1));
    b.Canvas().Draw(0, -2, b);
    EXPECT_EQ(3u, b.Pixel(0, 0));
    EXPECT_EQ(4u, b.Pixel(0, 1));
    EXPECT_EQ(5u, b.Pixel(0, 2));
    EXPECT_EQ(4u, b.Pixel(0, 3));
    b.Canvas().Draw(0, 1, b);
    EXPECT_EQ(3u, b.Pixel(0, 0));
    EXPECT_EQ(3u, b.Pixel(0, 1));
    EXPECT_EQ(4u, b.Pixel(0, 2));
    EXPECT_EQ(5u, b.Pixel(0, 3));
}

TEST(CanvasBitmaps, DrawOntoSurfacesConvertsAndClips) {
    gui::Bitmap picture = Blank(4, 4, gui::RGB(255, 0, 255));
    picture.SetPixel(0, 0, 0x00FF00);
    for (auto format : {gui::PixelFormat::Indexed8, gui::PixelFormat::RGB565, gui::PixelFormat::XRGB8888}) {
        media::TDirectDraw dd(format);
        media::TDirectDrawSurface s(&dd);
        s.SetSize(5, 5);
        s.Fill(0);
        s.Canvas().Draw(3, -1, picture);
        s.Canvas().Release();
        EXPECT_EQ(s.DeviceColor(gui::clFuchsia), s.Pixel(4, 0));
        EXPECT_EQ(s.DeviceColor(gui::clFuchsia), s.Pixel(3, 2));
        EXPECT_EQ(0u, s.Pixel(2, 0));
        EXPECT_EQ(0u, s.Pixel(3, 3));
    }
}

TEST(CanvasBitmaps, CopyRectScalesAndFillRectUsesTheBrush) {
    gui::Bitmap source = Blank(2, 2, gui::clBlack);
    source.SetPixel(1, 0, 0xFF0000);
    gui::Bitmap target = Blank(8, 6, gui::clWhite);
    target.Canvas().CopyRect(gui::Rect(2, 2, 6, 6), source, gui::Rect(0, 0, 2, 2));
    EXPECT_EQ(0xFF0000u, target.Pixel(4, 2));
    EXPECT_EQ(0xFF0000u, target.Pixel(5, 3));
    EXPECT_EQ(0x000000u, target.Pixel(3, 3));
    EXPECT_EQ(0x000000u, target.Pixel(5, 5));
    EXPECT_EQ(0xFFFFFFu, target.Pixel(1, 2));
    // Half of the stretched picture lies left of the target: its right column shows.
    target.Canvas().StretchDraw(gui::Rect(-8, 0, 8, 12), source);
    EXPECT_EQ(0xFF0000u, target.Pixel(0, 0));
    EXPECT_EQ(0xFF0000u, target.Pixel(7, 5));
    target.Canvas().StretchDraw(gui::Rect(-8, -6, 8, 6), source);
    EXPECT_EQ(0x000000u, target.Pixel(7, 5));

    target.Canvas().Brush().Color = gui::clLime;
    target.Canvas().FillRect(gui::Rect(6, 4, 20, 20));
    EXPECT_EQ(0x00FF00u, target.Pixel(7, 5));
    EXPECT_EQ(0x000000u, target.Pixel(5, 3));
    target.Canvas().Brush().Style = gui::TBrushStyle::bsClear;
    target.Canvas().Brush().Color = gui::clRed;
    target.Canvas().FillRect(gui::Rect(0, 0, 8, 6));
    EXPECT_EQ(0x00FF00u, target.Pixel(7, 5));
}
