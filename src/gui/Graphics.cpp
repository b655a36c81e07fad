#include "gui/Graphics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace gui {

TColor ColorToRGB(TColor color) {
    // The classic Windows scheme, indexed by COLOR_* number.
    static constexpr TColor kSystemColors[] = {
        RGB(192, 192, 192), RGB(0, 128, 128),   RGB(0, 0, 128),     RGB(128, 128, 128),
        RGB(192, 192, 192), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
        RGB(0, 0, 0),       RGB(255, 255, 255), RGB(192, 192, 192), RGB(192, 192, 192),
        RGB(128, 128, 128), RGB(0, 0, 128),     RGB(255, 255, 255), RGB(192, 192, 192),
        RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(192, 192, 192),
        RGB(255, 255, 255), RGB(0, 0, 0),       RGB(223, 223, 223), RGB(0, 0, 0),
        RGB(255, 255, 225)};
    if ((color & 0x80000000u) != 0) {
        const uint32_t index = color & 0xFF;
        return index < std::size(kSystemColors) ? kSystemColors[index] : clBlack;
    }
    return color & 0xFFFFFF;
}

TRect Intersect(const TRect& a, const TRect& b) {
    return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
}

int BytesPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::Indexed8: return 1;
        case PixelFormat::RGB565: return 2;
        case PixelFormat::XRGB8888: return 4;
    }
    return 4;
}

Palette::Palette() { SetEntries(SystemPalette()); }

void Palette::SetEntry(int index, uint32_t xrgb) {
    entries_[static_cast<size_t>(index) & 0xFF] = xrgb & 0xFFFFFF;
    Changed();
}

void Palette::SetEntries(const TColorTable& table) {
    for (size_t i = 0; i < 256; ++i)
        entries_[i] = (uint32_t{table[i].rgbRed} << 16) | (uint32_t{table[i].rgbGreen} << 8) |
                      table[i].rgbBlue;
    Changed();
}

void Palette::Changed() {
    cacheKey_.fill(0);
    cellStart_.clear();
    cellCount_.clear();
    cellEntries_.clear();
}

std::pair<const uint8_t*, const uint8_t*> Palette::Candidates(size_t cell) const {
    if (cellStart_.empty()) {
        cellStart_.assign(32768, -1);
        cellCount_.assign(32768, 0);
    }
    if (cellStart_[cell] < 0) {
        // An entry can be nearest to some colour of the cell only if its least distance to the
        // cell is no more than the greatest distance of the entry that is farthest from none.
        const int low[3] = {static_cast<int>(cell >> 10) * 8, static_cast<int>((cell >> 5) & 31) * 8,
                            static_cast<int>(cell & 31) * 8};
        std::array<int, 256> least{};
        int bound = 1 << 30;
        for (size_t i = 0; i < 256; ++i) {
            int most = 0;
            for (int c = 0; c < 3; ++c) {
                const int v = static_cast<int>((entries_[i] >> (16 - 8 * c)) & 0xFF);
                const int below = low[c] - v, above = v - (low[c] + 7);
                const int gap = below > 0 ? below : above > 0 ? above : 0;
                const int far = std::max(std::abs(v - low[c]), std::abs(v - (low[c] + 7)));
                least[i] += gap * gap;
                most += far * far;
            }
            bound = std::min(bound, most);
        }
        cellStart_[cell] = static_cast<int32_t>(cellEntries_.size());
        for (size_t i = 0; i < 256; ++i)
            if (least[i] <= bound) cellEntries_.push_back(static_cast<uint8_t>(i));
        cellCount_[cell] = static_cast<uint16_t>(cellEntries_.size() - static_cast<size_t>(cellStart_[cell]));
    }
    const uint8_t* first = cellEntries_.data() + cellStart_[cell];
    return {first, first + cellCount_[cell]};
}

uint8_t Palette::NearestIndex(uint32_t xrgb) const {
    xrgb &= 0xFFFFFF;
    const size_t slot = ((xrgb * 2654435761u) >> 20) & 0xFFF;
    if (cacheKey_[slot] == xrgb + 1) return cacheIndex_[slot];
    const int r = static_cast<int>((xrgb >> 16) & 0xFF);
    const int g = static_cast<int>((xrgb >> 8) & 0xFF);
    const int b = static_cast<int>(xrgb & 0xFF);
    int best = 0;
    int bestDistance = 1 << 30;
    const auto [first, last] = Candidates(static_cast<size_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)));
    for (const uint8_t* i = first; i != last && bestDistance > 0; ++i) {
        const uint32_t e = entries_[*i];
        const int dr = static_cast<int>((e >> 16) & 0xFF) - r;
        const int dg = static_cast<int>((e >> 8) & 0xFF) - g;
        const int db = static_cast<int>(e & 0xFF) - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = *i;
        }
    }
    cacheKey_[slot] = xrgb + 1;
    cacheIndex_[slot] = static_cast<uint8_t>(best);
    return static_cast<uint8_t>(best);
}

uint32_t PixelBuffer::Get(int x, int y) const {
    const uint8_t* row = Row(y);
    switch (format) {
        case PixelFormat::Indexed8: return row[x];
        case PixelFormat::RGB565: return reinterpret_cast<const uint16_t*>(row)[x];
        case PixelFormat::XRGB8888: return reinterpret_cast<const uint32_t*>(row)[x];
    }
    return 0;
}

void PixelBuffer::Set(int x, int y, uint32_t pixel) const {
    uint8_t* row = Row(y);
    switch (format) {
        case PixelFormat::Indexed8: row[x] = static_cast<uint8_t>(pixel); break;
        case PixelFormat::RGB565: reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(pixel); break;
        case PixelFormat::XRGB8888: reinterpret_cast<uint32_t*>(row)[x] = pixel; break;
    }
}

uint32_t XrgbToPixel(uint32_t xrgb, PixelFormat format, const Palette* palette) {
    switch (format) {
        case PixelFormat::Indexed8: return palette ? palette->NearestIndex(xrgb) : 0;
        case PixelFormat::RGB565:
            return ((xrgb >> 8) & 0xF800) | ((xrgb >> 5) & 0x07E0) | ((xrgb >> 3) & 0x001F);
        case PixelFormat::XRGB8888: return xrgb & 0xFFFFFF;
    }
    return 0;
}

uint32_t PixelToXrgb(uint32_t pixel, PixelFormat format, const Palette* palette) {
    switch (format) {
        case PixelFormat::Indexed8: return palette ? palette->Entry(static_cast<int>(pixel & 0xFF)) : 0;
        case PixelFormat::RGB565: {
            const uint32_t r = (pixel >> 11) & 0x1F, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
            return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
        }
        case PixelFormat::XRGB8888: return pixel & 0xFFFFFF;
    }
    return 0;
}

void FillPixels(const PixelBuffer& buffer, const TRect& rect, uint32_t pixel) {
    if (buffer.Empty()) return;
    const TRect r = Intersect(rect, Rect(0, 0, buffer.width, buffer.height));
    if (r.Empty()) return;
    const size_t count = static_cast<size_t>(r.Width());
    for (int y = r.Top; y < r.Bottom; ++y) {
        uint8_t* row = buffer.Row(y);
        switch (buffer.format) {
            case PixelFormat::Indexed8:
                std::memset(row + r.Left, static_cast<int>(pixel & 0xFF), count);
                break;
            case PixelFormat::RGB565: {
                uint16_t* p = reinterpret_cast<uint16_t*>(row) + r.Left;
                std::fill(p, p + count, static_cast<uint16_t>(pixel));
                break;
            }
            case PixelFormat::XRGB8888: {
                uint32_t* p = reinterpret_cast<uint32_t*>(row) + r.Left;
                std::fill(p, p + count, pixel);
                break;
            }
        }
    }
}

const TColorTable& SystemPalette() {
    static const TColorTable table = [] {
        TColorTable t{};
        auto set = [&t](int i, int r, int g, int b) {
            t[static_cast<size_t>(i)] = {static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                                         static_cast<uint8_t>(r), 0};
        };
        static constexpr int kLow[10][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},
                                            {0, 0, 128},   {128, 0, 128}, {0, 128, 128},   {192, 192, 192},
                                            {192, 220, 192}, {166, 202, 240}};
        static constexpr int kHigh[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                             {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                             {0, 255, 255},   {255, 255, 255}};
        for (int i = 0; i < 10; ++i) {
            set(i, kLow[i][0], kLow[i][1], kLow[i][2]);
            set(246 + i, kHigh[i][0], kHigh[i][1], kHigh[i][2]);
        }
        // The middle 236 entries: a 6x6x6 colour cube followed by a grey ramp.
        int i = 10;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) set(i++, r * 51, g * 51, b * 51);
        for (int k = 0; i < 246; ++i, ++k) set(i, 8 + k * 12, 8 + k * 12, 8 + k * 12);
        return t;
    }();
    return table;
}

}  // namespace gui
