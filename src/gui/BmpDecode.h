// Pieces shared by the two BMP/DIB readers: a bounds-checked little-endian reader, colour
// masks, row unpacking to XRGB8888 and run-length decoding. Nothing here reads out of bounds
// or writes outside its output, whatever the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gui::bmp {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// The largest picture either reader makes (pixels), and the largest side.
constexpr int64_t kMaxPixels = int64_t{1} << 25;
constexpr int kMaxSide = 32768;

// Whether a picture of `width` × `height` (neither negative) is past those limits.
constexpr bool ExceedsPictureLimits(int64_t width, int64_t height) {
    return width > kMaxSide || height > kMaxSide || width * height > kMaxPixels;
}

// Reads little-endian values; running past the end raises EReadError
// "ストリームからの読み込みエラー".
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    void Seek(size_t position);
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    int32_t S32() { return static_cast<int32_t>(U32()); }
    void Skip(size_t count);
    // A pointer to the next `count` bytes, which are then consumed.
    const uint8_t* Take(size_t count);

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

[[noreturn]] void ThrowReadError();

// The whole file; EFOpenError "ファイル %s は開けません" when it cannot be opened, EReadError
// when reading fails. A file longer than `maxBytes` raises EFileTooLarge "too large for a `kind`
// (n MB; at most m MB)": a regular file before any of it is read, anything else once that much
// has been read.
std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t maxBytes = UINT64_MAX,
                                   const char* kind = "file");

// The decoded description of a picture's stored pixels.
struct Layout {
    int width = 0;
    int height = 0;  // rows; the sign of the stored height is in `topDown`
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = BI_RGB;
    std::array<uint32_t, 3> masks{};  // red, green, blue
    std::array<uint32_t, 256> table{};  // colour table as 00RRGGBB

    size_t RowBytes() const { return ((static_cast<size_t>(bitCount) * width + 31) / 32) * 4; }
};

// OS/2 2.x headers: 16 bytes (the info header's first fields) and 64 (the info header's 40
// bytes and 24 of OS/2's own).
constexpr uint32_t kOs2ShortHeader = 16;
constexpr uint32_t kOs2Header = 64;

// The fields of a 12-byte core header, of a 16-byte OS/2 header, or of the first 40 bytes of an
// info header, after its size (already read). Width, bit count and compression go into the
// layout.
struct HeaderFields {
    bool core = false;
    int planes = 0;
    int64_t height = 0;  // as stored: negative for top-down rows
    uint32_t imageSize = 0;
    uint32_t colorsUsed = 0;
};
HeaderFields ReadHeaderFields(Reader& in, uint32_t headerSize, Layout& layout);

// The default masks: 5-5-5 at 16 bits, 8-8-8 otherwise.
std::array<uint32_t, 3> DefaultMasks(int bitCount);

// Converts one stored (uncompressed) row of `layout.width` pixels to 00RRGGBB.
void UnpackRow(const Layout& layout, const uint8_t* row, uint32_t* out);

// Decodes RLE8 (bitCount 8) or RLE4 (bitCount 4) data into one palette index per pixel,
// `width` × `height`, rows bottom-up. Pixels the data does not reach stay 0; runs that go past
// a row or the picture are cut off.
void DecodeRle(const uint8_t* data, size_t size, int bitCount, int width, int height,
               std::vector<uint8_t>& indices);

}  // namespace gui::bmp
