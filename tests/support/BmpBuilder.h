// Builds BMP files and raw DIB data of any accepted layout from a picture, for reader tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace testsupport {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 00RRGGBB, rows top-down
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct BmpLayout {
    uint32_t headerSize = 40;  // 12, 16, 40, 52, 56, 64, 108 or 124
    int bitCount = 24;
    uint32_t compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    bool topDown = false;
    uint16_t planes = 1;
    std::array<uint32_t, 3> masks{};  // for bit fields; zero = the defaults
    std::vector<uint32_t> palette;    // 00RRGGBB; indexed pictures use each colour's position
    uint32_t colorsUsed = 0;          // written as is
};

// Header, masks, colour table and pixels, as a form description stores a DIB.
std::vector<uint8_t> MakeDib(const Picture& picture, const BmpLayout& layout);
// The same behind a 14-byte "BM" file header.
std::vector<uint8_t> MakeBmpFile(const Picture& picture, const BmpLayout& layout);

// A 3×2 picture: red, green, blue over white, black, grey 128.
Picture SamplePicture();
// A palette holding every colour of SamplePicture, for the indexed layouts.
inline const std::vector<uint32_t> kSamplePalette{0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};

// Compares a decoded picture, read through `pixel` (00RRGGBB), with the expected one, each
// channel within `tolerance`.
::testing::AssertionResult PictureMatches(int width, int height, const std::function<uint32_t(int, int)>& pixel,
                                          const Picture& expected, int tolerance = 0);

}  // namespace testsupport
