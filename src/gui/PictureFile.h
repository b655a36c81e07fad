// Reads the picture files that charts name. A BMP file that our reader accepts is read exactly
// as Bitmap::LoadFromFile reads it; a PNG, JPEG, GIF, TGA or WebP file is decoded with
// SDL2_image, its transparent parts over black (so that a layer picture's black colour key hides
// them). The size limits of the BMP reader apply to every format, checked before decoding, and a
// JPEG with more scans than encoders write (each one a pass of the decoder) is refused unread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/Bitmap.h"
#include "gui/BmpDecode.h"

namespace gui {

// The largest picture file read: the most pixels taken, at 32 bits each, and room for the rest.
constexpr uint64_t kMaxPictureFileBytes = uint64_t{bmp::kMaxPixels} * 4 + (uint64_t{1} << 20);

// Raises what the BMP reader raised when no reader takes the file (EFOpenError when it cannot
// be opened, EFileTooLarge over kMaxPictureFileBytes).
void LoadPictureFile(Bitmap& bitmap, const std::string& path);
void LoadPictureFromMemory(Bitmap& bitmap, const uint8_t* data, size_t size);

// The SDL2_image path alone: false (and `bitmap` unchanged) for a file that is none of the
// formats above, is larger than the limits, or does not decode.
bool DecodeOtherPicture(Bitmap& bitmap, const uint8_t* data, size_t size);

}  // namespace gui
