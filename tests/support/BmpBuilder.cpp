#include "support/BmpBuilder.h"

#include "gui/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

uint32_t PackChannel(uint32_t value, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t max = mask >> shift;
    return ((value * max + 127) / 255) << shift;
}

std::vector<uint8_t> EncodeRle(const std::vector<std::vector<uint8_t>>& rows, bool four) {
    std::vector<uint8_t> out;
    for (const auto& row : rows) {
        size_t x = 0;
        while (x < row.size()) {
            size_t run = 1;
            while (x + run < row.size() && row[x + run] == row[x] && run < 255) ++run;
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(four ? static_cast<uint8_t>((row[x] << 4) | row[x]) : row[x]);
            x += run;
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

}  // namespace

std::vector<uint8_t> MakeDib(const Picture& picture, const BmpLayout& layout) {
    const int bits = layout.bitCount;
    std::array<uint32_t, 3> masks = layout.masks;
    if (masks == std::array<uint32_t, 3>{})
        masks = bits == 16 ? std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                           : std::array<uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};

    // Stored rows, bottom-up unless top-down.
    std::vector<std::vector<uint8_t>> indexRows;
    std::vector<uint8_t> pixels;
    const size_t rowBytes = ((static_cast<size_t>(bits) * picture.width + 31) / 32) * 4;
    for (int i = 0; i < picture.height; ++i) {
        const int y = layout.topDown ? i : picture.height - 1 - i;
        std::vector<uint8_t> row(rowBytes, 0);
        std::vector<uint8_t> indices;
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t c = picture.At(x, y);
            if (bits <= 8) {
                const auto it = std::find(layout.palette.begin(), layout.palette.end(), c);
                if (it == layout.palette.end()) throw std::logic_error("colour not in the palette");
                const auto index = static_cast<uint8_t>(it - layout.palette.begin());
                indices.push_back(index);
                if (bits == 8) row[x] = index;
                if (bits == 4) row[x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
                if (bits == 1) row[x / 8] |= static_cast<uint8_t>(index << (7 - x % 8));
            } else if (bits == 24) {
                row[3 * x] = static_cast<uint8_t>(c);
                row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(c >> 16);
            } else {
                const uint32_t v = PackChannel((c >> 16) & 0xFF, masks[0]) | PackChannel((c >> 8) & 0xFF, masks[1]) |
                                   PackChannel(c & 0xFF, masks[2]);
                for (int b = 0; b < bits / 8; ++b) row[static_cast<size_t>(x * bits / 8 + b)] = static_cast<uint8_t>(v >> (8 * b));
            }
        }
        indexRows.push_back(indices);
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    if (layout.compression == 1 || layout.compression == 2) pixels = EncodeRle(indexRows, layout.compression == 2);

    std::vector<uint8_t> out;
    const bool core = layout.headerSize == 12;
    gui::PutU32(out, layout.headerSize);
    if (core) {
        gui::PutU16(out, static_cast<uint32_t>(picture.width));
        gui::PutU16(out, static_cast<uint32_t>(picture.height));
        gui::PutU16(out, layout.planes);
        gui::PutU16(out, static_cast<uint32_t>(bits));
    } else {
        gui::PutU32(out, static_cast<uint32_t>(picture.width));
        gui::PutU32(out, static_cast<uint32_t>(layout.topDown ? -picture.height : picture.height));
        gui::PutU16(out, layout.planes);
        gui::PutU16(out, static_cast<uint32_t>(bits));
    }
    // OS/2 2.x headers: 16 bytes end here; 64 bytes carry the info header's fields and 24 of
    // their own (units, rendering, colour encoding), left zero.
    const bool os2 = layout.headerSize == 16 || layout.headerSize == 64;
    if (!core && layout.headerSize != 16) {
        gui::PutU32(out, layout.compression);
        gui::PutU32(out, static_cast<uint32_t>(pixels.size()));
        gui::PutU32(out, 2835);
        gui::PutU32(out, 2835);
        gui::PutU32(out, layout.colorsUsed);
        gui::PutU32(out, 0);
        if (!os2 && (layout.headerSize >= 52 || layout.compression == 3))
            for (uint32_t m : masks) gui::PutU32(out, m);
        if (!os2 && layout.headerSize >= 56) gui::PutU32(out, 0);
        while (out.size() < layout.headerSize) out.push_back(0);
    }
    if (bits <= 8) {
        const size_t count = layout.colorsUsed != 0 ? layout.colorsUsed : size_t{1} << bits;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t c = i < layout.palette.size() ? layout.palette[i] : 0;
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
            out.push_back(static_cast<uint8_t>(c >> 16));
            if (!core) out.push_back(0);
        }
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

std::vector<uint8_t> MakeBmpFile(const Picture& picture, const BmpLayout& layout) {
    const std::vector<uint8_t> dib = MakeDib(picture, layout);
    size_t headerBytes = layout.headerSize;
    if (layout.headerSize == 40 && layout.compression == 3) headerBytes += 12;
    if (layout.bitCount <= 8)
        headerBytes += (layout.colorsUsed != 0 ? layout.colorsUsed : size_t{1} << layout.bitCount) *
                       (layout.headerSize == 12 ? 3 : 4);
    std::vector<uint8_t> out{'B', 'M'};
    gui::PutU32(out, static_cast<uint32_t>(14 + dib.size()));
    gui::PutU32(out, 0);
    gui::PutU32(out, static_cast<uint32_t>(14 + headerBytes));
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

::testing::AssertionResult PictureMatches(int width, int height, const std::function<uint32_t(int, int)>& pixel,
                                          const Picture& expected, int tolerance) {
    if (width != expected.width || height != expected.height)
        return ::testing::AssertionFailure() << "size " << width << "x" << height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int shift : {0, 8, 16}) {
                const int got = static_cast<int>((pixel(x, y) >> shift) & 0xFF);
                const int want = static_cast<int>((expected.At(x, y) >> shift) & 0xFF);
                if (std::abs(got - want) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << std::hex
                                                         << pixel(x, y) << ", want " << expected.At(x, y);
            }
    return ::testing::AssertionSuccess();
}

Picture SamplePicture() {
    return {3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080}};
}

}  // namespace testsupport
