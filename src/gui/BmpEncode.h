// Writing 24-bit BMP files: the frame pictures of the offline renderer and the demo chart's
// pictures. Plain code without the rest of the framework, so that the build-time generators
// can compile it in too.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace gui {

// A whole uncompressed 24-bit bottom-up BMP file with a 40-byte info header. `xrgbAt(x, y)`
// gives the colour 00RRGGBB of each pixel, y = 0 being the top row.
std::vector<uint8_t> EncodeBmp24(int width, int height, const std::function<uint32_t(int x, int y)>& xrgbAt);

}  // namespace gui
