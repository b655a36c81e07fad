// Encoders for what the sheet generator writes: the packed DIB (info header, colour table,
// bottom-up rows), the same as a BMP file, and PNG with stored (uncompressed) deflate blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "ArrowArt.h"

namespace sheet {

std::vector<uint8_t> EncodeDib(const IndexedPicture& picture, const Palette& palette);
// A BMP file: the 14-byte file header, then the DIB.
std::vector<uint8_t> EncodeBmp(const std::vector<uint8_t>& dib);
std::vector<uint8_t> EncodePng(const RgbaPicture& picture);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size);

}  // namespace sheet
