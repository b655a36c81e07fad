// Basic picture types shared by bitmaps, canvases and the media layer's surfaces: colours,
// rectangles, the three pixel formats, a 256-colour palette with nearest-colour lookup, a view
// of pixel memory, and the graphics errors.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "gui/Exception.h"

namespace gui {

// A colour as 00BBGGRR (blue in the high byte). Values with the top bit set name a system colour.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clBtnFace = 0x8000000F;

constexpr TColor RGB(uint32_t r, uint32_t g, uint32_t b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr uint32_t GetRValue(TColor c) { return c & 0xFF; }
constexpr uint32_t GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr uint32_t GetBValue(TColor c) { return (c >> 16) & 0xFF; }

// Resolves system colour constants to their classic RGB values; other colours lose their top byte.
TColor ColorToRGB(TColor color);

// 00BBGGRR <-> 00RRGGBB (the XRGB8888 pixel layout).
constexpr uint32_t ColorToXrgb(TColor c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}
constexpr TColor XrgbToColor(uint32_t x) { return RGB((x >> 16) & 0xFF, (x >> 8) & 0xFF, x & 0xFF); }

// A colour-table entry in DIB order.
struct TRGBQuad {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};
using TColorTable = std::array<TRGBQuad, 256>;

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool Empty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};
constexpr TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
constexpr TRect Bounds(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}
// The overlap of two rectangles; an empty result has Right <= Left or Bottom <= Top.
TRect Intersect(const TRect& a, const TRect& b);

enum class PixelFormat { Indexed8, RGB565, XRGB8888 };
int BytesPerPixel(PixelFormat format);

// 256 colours (as 00RRGGBB) with GDI's nearest-colour rule: the smallest squared RGB distance,
// the lowest index among equals. Lookups are cached, and a lookup that misses the cache compares
// only the entries that can be nearest to some colour of its 8×8×8 cell of the colour cube, so
// mapping a picture of many colours (a movie) costs little too.
class Palette {
public:
    Palette();
    uint32_t Entry(int index) const { return entries_[static_cast<size_t>(index) & 0xFF]; }
    void SetEntry(int index, uint32_t xrgb);
    void SetEntries(const TColorTable& table);
    uint8_t NearestIndex(uint32_t xrgb) const;
    const std::array<uint32_t, 256>& Entries() const { return entries_; }

private:
    void Changed();
    // The entries that can be nearest to a colour of `cell`, found on first use.
    std::pair<const uint8_t*, const uint8_t*> Candidates(size_t cell) const;

    std::array<uint32_t, 256> entries_{};
    // Direct-mapped cache: key is the colour plus one (0 = unused slot).
    mutable std::array<uint32_t, 4096> cacheKey_{};
    mutable std::array<uint8_t, 4096> cacheIndex_{};
    // For each cell of 8×8×8 colours: where its candidates start in cellEntries_, and how many
    // (the start is -1 for a cell not looked at yet).
    mutable std::vector<int32_t> cellStart_;
    mutable std::vector<uint16_t> cellCount_;
    mutable std::vector<uint8_t> cellEntries_;
};

// A view of pixel memory in one of the three formats. 8-bit views need the palette in force.
struct PixelBuffer {
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    PixelFormat format = PixelFormat::XRGB8888;
    const Palette* palette = nullptr;

    bool Empty() const { return bits == nullptr || width <= 0 || height <= 0; }
    uint8_t* Row(int y) const { return bits + static_cast<ptrdiff_t>(y) * pitch; }
    uint32_t Get(int x, int y) const;
    void Set(int x, int y, uint32_t pixel) const;
};

// The pixel value of an RGB colour (00RRGGBB) in a format: nearest palette index at 8 bits.
uint32_t XrgbToPixel(uint32_t xrgb, PixelFormat format, const Palette* palette);
uint32_t PixelToXrgb(uint32_t pixel, PixelFormat format, const Palette* palette);
// Fills the part of `rect` that lies inside the buffer.
void FillPixels(const PixelBuffer& buffer, const TRect& rect, uint32_t pixel);

// The standard Windows static colours (entries 0-9 and 246-255 of the system palette), and a
// full system palette made of them around a colour cube.
const TColorTable& SystemPalette();

GUI_DECLARE_EXCEPTION(EInvalidOperation, Exception);
GUI_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
GUI_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
GUI_DECLARE_EXCEPTION(EOutOfResources, Exception);

}  // namespace gui
