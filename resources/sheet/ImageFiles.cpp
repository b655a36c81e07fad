#include "ImageFiles.h"

#include "gui/ByteOrder.h"

#include <algorithm>
#include <array>

namespace sheet {

namespace {

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    gui::PutU32BigEndian(png, static_cast<uint32_t>(data.size()));
    const size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    gui::PutU32BigEndian(png, Crc32(png.data() + typeAt, png.size() - typeAt));
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> EncodeDib(const IndexedPicture& picture, const Palette& palette) {
    const uint32_t stride = (static_cast<uint32_t>(picture.width) + 3) & ~3u;
    std::vector<uint8_t> dib;
    gui::PutU32(dib, 40);
    gui::PutU32(dib, static_cast<uint32_t>(picture.width));
    gui::PutU32(dib, static_cast<uint32_t>(picture.height));
    gui::PutU16(dib, 1);
    gui::PutU16(dib, 8);
    gui::PutU32(dib, 0);
    gui::PutU32(dib, stride * static_cast<uint32_t>(picture.height));
    gui::PutU32(dib, 0);
    gui::PutU32(dib, 0);
    gui::PutU32(dib, 0);
    gui::PutU32(dib, 0);
    for (uint32_t c : palette) {
        dib.push_back(static_cast<uint8_t>(c));
        dib.push_back(static_cast<uint8_t>(c >> 8));
        dib.push_back(static_cast<uint8_t>(c >> 16));
        dib.push_back(0);
    }
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) dib.push_back(picture.At(x, y));
        for (uint32_t pad = static_cast<uint32_t>(picture.width); pad < stride; ++pad) dib.push_back(0);
    }
    return dib;
}

std::vector<uint8_t> EncodeBmp(const std::vector<uint8_t>& dib) {
    constexpr uint32_t kFileHeader = 14;
    const uint32_t bitsOffset = kFileHeader + 40 + 256 * 4;
    std::vector<uint8_t> bmp = {'B', 'M'};
    gui::PutU32(bmp, kFileHeader + static_cast<uint32_t>(dib.size()));
    gui::PutU32(bmp, 0);
    gui::PutU32(bmp, bitsOffset);
    bmp.insert(bmp.end(), dib.begin(), dib.end());
    return bmp;
}

std::vector<uint8_t> EncodePng(const RgbaPicture& picture) {
    std::vector<uint8_t> raw;
    const size_t rowBytes = static_cast<size_t>(picture.width) * 4;
    for (int y = 0; y < picture.height; ++y) {
        raw.push_back(0);  // filter: none
        const auto row = picture.pixels.begin() + static_cast<ptrdiff_t>(rowBytes * static_cast<size_t>(y));
        raw.insert(raw.end(), row, row + static_cast<ptrdiff_t>(rowBytes));
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t done = 0;
    do {
        const size_t length = std::min<size_t>(raw.size() - done, 65535);
        zlib.push_back(done + length == raw.size() ? 1 : 0);
        gui::PutU16(zlib, static_cast<uint32_t>(length));
        gui::PutU16(zlib, static_cast<uint32_t>(~length & 0xFFFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<ptrdiff_t>(done),
                    raw.begin() + static_cast<ptrdiff_t>(done + length));
        done += length;
    } while (done < raw.size());
    gui::PutU32BigEndian(zlib, Adler32(raw.data(), raw.size()));

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    gui::PutU32BigEndian(header, static_cast<uint32_t>(picture.width));
    gui::PutU32BigEndian(header, static_cast<uint32_t>(picture.height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter set, no interlace
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    return png;
}

}  // namespace sheet
