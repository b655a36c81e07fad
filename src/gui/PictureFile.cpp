#include "gui/PictureFile.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "gui/BmpDecode.h"
#include "gui/ByteOrder.h"
#include "gui/Exception.h"
#include "gui/Modules.h"
#include "gui/PictureDecoders.h"

namespace gui {
namespace {

// The decoder is called by name: SDL2_image's generic loader guesses the format from the
// content, so a file that looks like one format here could reach another decoder there.
struct PictureHeader {
    PictureDecoders::Decoder PictureDecoders::*load = nullptr;
    int64_t width = 0;
    int64_t height = 0;
    int scans = 0;  // a JPEG's
};

// A JPEG is decoded scan by scan, and each scan of a progressive one is a pass over every block
// of its components: a few hundred kilobytes of repeated scans keep the decoder busy for
// minutes. Encoders write up to ten scans (libjpeg's progression for CMYK, the most, 24).
constexpr int kMaxJpegScans = 32;

uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }
uint32_t Le24(const uint8_t* p) { return Le16(p) | uint32_t{p[2]} << 16; }

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t offset = 0) {
    const size_t length = std::strlen(magic);
    return size >= offset + length && std::memcmp(data + offset, magic, length) == 0;
}

// The size a decoder will allocate for, read from the headers without decoding: the picture's
// own size, and for a GIF also the size of its first frame, which its decoder allocates.
bool ReadPng(const uint8_t* d, size_t n, PictureHeader& h) {
    if (!StartsWith(d, n, "\x89PNG\r\n\x1a\n") || !StartsWith(d, n, "IHDR", 12) || n < 24) return false;
    h = {&PictureDecoders::png, Be32(d + 16), Be32(d + 20)};
    return true;
}

// The scans of a JPEG from `pos` on, counted as libjpeg's reader will meet them: segments by
// their lengths, the entropy-coded data after each scan header up to the next marker (FF 00 is a
// stuffed byte, FF D0 to D7 restart markers), bytes that start no marker skipped, up to the end
// of the image. A scan costs its pass whether or not data follows its header.
int CountJpegScans(const uint8_t* d, size_t n, size_t pos) {
    int scans = 0;
    while (pos + 1 < n) {
        if (d[pos] != 0xFF) {
            const void* next = std::memchr(d + pos, 0xFF, n - pos);
            if (next == nullptr) break;
            pos = static_cast<size_t>(static_cast<const uint8_t*>(next) - d);
            continue;
        }
        const uint8_t marker = d[pos + 1];
        if (marker == 0xD9) break;
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (pos + 4 > n) break;
        pos += 2 + Be16(d + pos + 2);
        if (marker != 0xDA) continue;
        ++scans;
        while (pos + 1 < n) {
            const void* next = std::memchr(d + pos, 0xFF, n - pos - 1);
            if (next == nullptr) return scans;
            pos = static_cast<size_t>(static_cast<const uint8_t*>(next) - d);
            const uint8_t after = d[pos + 1];
            if (after != 0x00 && (after < 0xD0 || after > 0xD7)) break;
            pos += 2;
        }
    }
    return scans;
}

bool ReadJpeg(const uint8_t* d, size_t n, PictureHeader& h) {
    if (n < 3 || d[0] != 0xFF || d[1] != 0xD8 || d[2] != 0xFF) return false;
    size_t pos = 2;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF) return false;
        const uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return false;  // image data before any frame header
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (pos + 9 > n) return false;
            h = {&PictureDecoders::jpeg, Be16(d + pos + 7), Be16(d + pos + 5), CountJpegScans(d, n, pos)};
            return true;
        }
        pos += 2 + Be16(d + pos + 2);
    }
    return false;
}

bool ReadGif(const uint8_t* d, size_t n, PictureHeader& h) {
    if ((!StartsWith(d, n, "GIF87a") && !StartsWith(d, n, "GIF89a")) || n < 13) return false;
    int64_t width = Le16(d + 6), height = Le16(d + 8);
    size_t pos = 13;
    if (d[10] & 0x80) pos += 3 * (size_t{2} << (d[10] & 7));
    while (pos < n) {
        if (d[pos] == 0x2C) {
            if (pos + 9 > n) return false;
            width = std::max<int64_t>(width, Le16(d + pos + 5));
            height = std::max<int64_t>(height, Le16(d + pos + 7));
            h = {&PictureDecoders::gif, width, height};
            return true;
        }
        if (d[pos] != 0x21) return false;
        pos += 2;  // introducer and label, then data blocks up to an empty one
        while (pos < n && d[pos] != 0) pos += 1 + size_t{d[pos]};
        ++pos;
    }
    return false;
}

bool ReadWebp(const uint8_t* d, size_t n, PictureHeader& h) {
    if (!StartsWith(d, n, "RIFF") || !StartsWith(d, n, "WEBP", 8) || n < 30) return false;
    if (StartsWith(d, n, "VP8X", 12)) {
        h = {&PictureDecoders::webp, int64_t{Le24(d + 24)} + 1, int64_t{Le24(d + 27)} + 1};
    } else if (StartsWith(d, n, "VP8L", 12)) {
        const uint32_t bits = Le32(d + 21);
        h = {&PictureDecoders::webp, int64_t{bits & 0x3FFF} + 1, int64_t{(bits >> 14) & 0x3FFF} + 1};
    } else if (StartsWith(d, n, "VP8 ", 12)) {
        h = {&PictureDecoders::webp, Le16(d + 26) & 0x3FFF, Le16(d + 28) & 0x3FFF};
    } else {
        return false;
    }
    return true;
}

// TGA has no signature: take a header whose fields all hold values the format allows.
bool ReadTga(const uint8_t* d, size_t n, PictureHeader& h) {
    if (n < 18) return false;
    const uint8_t mapType = d[1], imageType = d[2], depth = d[16];
    const bool knownType = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 || imageType == 10 ||
                           imageType == 11;
    const bool knownDepth = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    if (mapType > 1 || !knownType || !knownDepth) return false;
    h = {&PictureDecoders::tga, Le16(d + 12), Le16(d + 14)};
    return true;
}

bool WithinLimits(const PictureHeader& h) {
    return h.width > 0 && h.height > 0 && !bmp::ExceedsPictureLimits(h.width, h.height) && h.scans <= kMaxJpegScans;
}

}  // namespace

bool DecodeOtherPicture(Bitmap& bitmap, const uint8_t* data, size_t size) {
    PictureHeader header;
    if (!ReadPng(data, size, header) && !ReadJpeg(data, size, header) && !ReadGif(data, size, header) &&
        !ReadWebp(data, size, header) && !ReadTga(data, size, header))
        return false;
    if (!WithinLimits(header)) return false;
    // SDL2_image and the libraries of its formats load with the first picture that needs them.
    const auto* decoders = static_cast<const PictureDecoders*>(
        LoadModule("picture", PictureDecoders::kVersion, "PNG, JPEG, GIF, TGA and WebP pictures are not shown"));
    if (decoders == nullptr) return false;
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(std::min<size_t>(size, INT32_MAX)));
    if (rw == nullptr) return false;
    SDL_Surface* decoded = (decoders->*header.load)(rw);
    SDL_RWclose(rw);
    if (decoded == nullptr) return false;
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(decoded);
    if (argb == nullptr) return false;
    const bool fits = argb->w > 0 && argb->h > 0 && !bmp::ExceedsPictureLimits(argb->w, argb->h);
    if (fits) {
        bitmap.SetSize(argb->w, argb->h);
        for (int y = 0; y < argb->h; ++y) {
            const auto* in = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) +
                                                               static_cast<ptrdiff_t>(y) * argb->pitch);
            uint32_t* out = bitmap.ScanLine(y);
            for (int x = 0; x < argb->w; ++x) {
                // Over black: each channel scaled by the alpha, fully transparent pixels black.
                const uint32_t alpha = in[x] >> 24;
                uint32_t pixel = 0;
                for (int shift : {0, 8, 16}) pixel |= (((in[x] >> shift) & 0xFF) * alpha + 127) / 255 << shift;
                out[x] = pixel;
            }
        }
    }
    SDL_FreeSurface(argb);
    return fits;
}

void LoadPictureFromMemory(Bitmap& bitmap, const uint8_t* data, size_t size) {
    try {
        bitmap.LoadFromMemory(data, size);
    } catch (const Exception&) {
        const std::exception_ptr refused = std::current_exception();
        if (!DecodeOtherPicture(bitmap, data, size)) std::rethrow_exception(refused);
    }
}

void LoadPictureFile(Bitmap& bitmap, const std::string& path) {
    const std::vector<uint8_t> data = bmp::ReadFileBytes(path, kMaxPictureFileBytes, "picture file");
    LoadPictureFromMemory(bitmap, data.data(), data.size());
}

}  // namespace gui
