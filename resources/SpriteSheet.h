// The arrow sprite sheet that the program carries: a 125x215 8-bit DIB (40-byte info header,
// 256-entry colour table, bottom-up rows padded to 128 bytes), made at build time.
#pragma once

#include <cstdint>
#include <span>

namespace resources {

std::span<const uint8_t> SpriteSheetDib();

}  // namespace resources
