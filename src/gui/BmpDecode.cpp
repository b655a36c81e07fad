#include "gui/BmpDecode.h"

#include <sys/stat.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "gui/Exception.h"

namespace gui::bmp {

void ThrowReadError() { throw EReadError("ストリームからの読み込みエラー"); }

namespace {

[[noreturn]] void ThrowTooLarge(uint64_t size, uint64_t maxBytes, const char* kind) {
    constexpr uint64_t kMb = 1 << 20;
    throw EFileTooLarge(std::string("too large for a ") + kind + " (" + std::to_string((size + kMb - 1) / kMb) +
                        " MB; at most " + std::to_string(maxBytes / kMb) + " MB)");
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t maxBytes, const char* kind) {
    std::error_code ec;
    FILE* file = std::filesystem::is_directory(path, ec) ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw EFOpenError(Format("ファイル %s は開けません", path.c_str()));
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, &std::fclose);
    // A regular file is sized first: one too large is refused unread, any other read in one go.
    struct stat info {};
    size_t size = 0;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        if (static_cast<uint64_t>(info.st_size) > maxBytes)
            ThrowTooLarge(static_cast<uint64_t>(info.st_size), maxBytes, kind);
        size = static_cast<size_t>(info.st_size);
    }
    std::vector<uint8_t> data(size);
    const size_t read = size > 0 ? std::fread(data.data(), 1, size, file) : 0;
    data.resize(read);
    // What the size did not tell: a file that grew, or one that is not regular.
    uint8_t chunk[65536];
    size_t got = 0;
    while (read == size && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (data.size() + got > maxBytes) ThrowTooLarge(data.size() + got, maxBytes, kind);
        data.insert(data.end(), chunk, chunk + got);
    }
    if (std::ferror(file) != 0) ThrowReadError();
    return data;
}

void Reader::Seek(size_t position) {
    if (position > size_) ThrowReadError();
    pos_ = position;
}

uint8_t Reader::U8() { return *Take(1); }

uint16_t Reader::U16() {
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Reader::U32() {
    const uint8_t* p = Take(4);
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Reader::Skip(size_t count) { Take(count); }

const uint8_t* Reader::Take(size_t count) {
    if (count > Remaining()) ThrowReadError();
    const uint8_t* p = data_ + pos_;
    pos_ += count;
    return p;
}

HeaderFields ReadHeaderFields(Reader& in, uint32_t headerSize, Layout& layout) {
    HeaderFields h;
    h.core = headerSize == 12;
    if (h.core) {
        layout.width = in.U16();
        h.height = in.U16();
        h.planes = in.U16();
        layout.bitCount = in.U16();
        return h;
    }
    layout.width = in.S32();
    h.height = in.S32();
    h.planes = in.U16();
    layout.bitCount = in.U16();
    // The short OS/2 2.x header stops here; what it leaves out is zero.
    if (headerSize == kOs2ShortHeader) return h;
    layout.compression = in.U32();
    h.imageSize = in.U32();
    in.Skip(8);
    h.colorsUsed = in.U32();
    in.Skip(4);
    return h;
}

std::array<uint32_t, 3> DefaultMasks(int bitCount) {
    if (bitCount == 16) return {0x7C00, 0x03E0, 0x001F};
    return {0xFF0000, 0x00FF00, 0x0000FF};
}

namespace {

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    uint32_t Extract(uint32_t v) const {
        if (max == 0) return 0;
        const uint64_t value = (v & mask) >> shift;
        return static_cast<uint32_t>((value * 255 + max / 2) / max);
    }
};

}  // namespace

void UnpackRow(const Layout& layout, const uint8_t* row, uint32_t* out) {
    const int width = layout.width;
    switch (layout.bitCount) {
        case 1:
            for (int x = 0; x < width; ++x) out[x] = layout.table[(row[x >> 3] >> (7 - (x & 7))) & 1];
            return;
        case 4:
            for (int x = 0; x < width; ++x)
                out[x] = layout.table[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
            return;
        case 8:
            for (int x = 0; x < width; ++x) out[x] = layout.table[row[x]];
            return;
        case 24:
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = row + 3 * x;
                out[x] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
            }
            return;
        case 16:
        case 32: {
            const Channel r(layout.masks[0]), g(layout.masks[1]), b(layout.masks[2]);
            const bool wide = layout.bitCount == 32;
            for (int x = 0; x < width; ++x) {
                uint32_t v;
                if (wide) {
                    std::memcpy(&v, row + 4 * x, 4);
                } else {
                    v = uint32_t{row[2 * x]} | (uint32_t{row[2 * x + 1]} << 8);
                }
                out[x] = (r.Extract(v) << 16) | (g.Extract(v) << 8) | b.Extract(v);
            }
            return;
        }
        default:
            std::memset(out, 0, static_cast<size_t>(width) * 4);
    }
}

void DecodeRle(const uint8_t* data, size_t size, int bitCount, int width, int height,
               std::vector<uint8_t>& indices) {
    indices.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    const bool four = bitCount == 4;
    int64_t x = 0;
    int64_t y = 0;
    auto put = [&](uint8_t value) {
        if (x >= 0 && x < width && y < height) indices[static_cast<size_t>(y) * width + static_cast<size_t>(x)] = value;
        ++x;
    };
    size_t pos = 0;
    while (pos + 1 < size && y < height) {
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        switch (value) {
            case 0:
                x = 0;
                ++y;
                break;
            case 1:
                return;
            case 2:
                if (pos + 1 >= size) return;
                x += data[pos];
                y += data[pos + 1];
                pos += 2;
                break;
            default: {
                const size_t bytes = four ? (value + 1u) / 2 : value;
                if (bytes > size - pos) return;
                for (int i = 0; i < value; ++i) {
                    const uint8_t b = data[pos + (four ? i / 2 : i)];
                    put(four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
                }
                pos += bytes + (bytes & 1);
                break;
            }
        }
    }
}

}  // namespace gui::bmp
