#include "media/DIB.h"

#include "gui/ByteOrder.h"

#include <cstdlib>
#include <cstring>

#include "gui/BmpDecode.h"

namespace media {

using gui::bmp::Layout;

struct TDIB::Image {
    Layout layout;
    gui::TColorTable colorTable{};
    // Rows bottom-up, WidthBytes each; empty until run-length data is decoded.
    mutable std::vector<uint8_t> bits;
    // Run-length-encoded pixels as read, decoded on first use.
    mutable std::vector<uint8_t> encoded;
    mutable bool decoded = true;

    size_t RowBytes() const { return layout.RowBytes(); }
    void SyncTable() {
        for (size_t i = 0; i < 256; ++i)
            layout.table[i] = (uint32_t{colorTable[i].rgbRed} << 16) | (uint32_t{colorTable[i].rgbGreen} << 8) |
                              colorTable[i].rgbBlue;
    }
};

namespace {

[[noreturn]] void ThrowInvalidDib() { throw gui::EInvalidGraphic("不正な DIB です"); }

bool ValidBitCount(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The checks made when the image is created.
void CheckImage(const Layout& layout, int64_t height) {
    if (!ValidBitCount(layout.bitCount))
        throw gui::EInvalidGraphicOperation(gui::Format("不正なビット数です (%d)", layout.bitCount));
    const auto& m = layout.masks;
    const bool masksOk = layout.bitCount == 16
                             ? (m == std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F} ||
                                m == std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F})
                             : m == std::array<uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    if (!masksOk) throw gui::EInvalidGraphicOperation("不正なピクセルフォーマットです");
    if (layout.width <= 0 || height == 0 || gui::bmp::ExceedsPictureLimits(layout.width, std::abs(int64_t{height})))
        throw gui::EOutOfResources(gui::Format("%s を作成できません", "DIB"));
}

}  // namespace

TDIB::TDIB() : image_(std::make_shared<Image>()) {}
TDIB::~TDIB() = default;
TDIB::TDIB(const TDIB& other) = default;
TDIB& TDIB::operator=(const TDIB& other) = default;

void TDIB::LoadFromStream(const uint8_t* data, size_t size) {
    if (size == 0) {
        image_ = std::make_shared<Image>();
        return;
    }
    if (size < 4) ThrowInvalidDib();
    gui::bmp::Reader in(data, size);
    auto image = std::make_shared<Image>();
    Layout& layout = image->layout;
    const uint32_t headerSize = in.U32();
    if (headerSize != 12 && headerSize != 40) ThrowInvalidDib();
    const gui::bmp::HeaderFields fields = gui::bmp::ReadHeaderFields(in, headerSize, layout);
    const int64_t height = fields.height;
    layout.masks = layout.compression == gui::bmp::BI_BITFIELDS ? std::array<uint32_t, 3>{in.U32(), in.U32(), in.U32()}
                                                                 : gui::bmp::DefaultMasks(layout.bitCount);
    uint32_t count = fields.colorsUsed;
    if (count == 0 && layout.bitCount >= 0 && layout.bitCount <= 8) count = 1u << layout.bitCount;
    if (count > 256) count = 256;
    const size_t entrySize = fields.core ? 3 : 4;
    const uint8_t* table = in.Take(count * entrySize);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = table + i * entrySize;
        image->colorTable[i] = {e[0], e[1], e[2], 0};
    }
    image->SyncTable();

    CheckImage(layout, height);
    layout.height = static_cast<int>(height < 0 ? -height : height);
    const size_t rowBytes = image->RowBytes();
    switch (layout.compression) {
        case gui::bmp::BI_RGB:
        case gui::bmp::BI_BITFIELDS: {
            image->bits.resize(rowBytes * static_cast<size_t>(layout.height));
            if (height > 0) {
                std::memcpy(image->bits.data(), in.Take(image->bits.size()), image->bits.size());
            } else {
                for (int row = 0; row < layout.height; ++row)
                    std::memcpy(image->bits.data() + rowBytes * static_cast<size_t>(layout.height - 1 - row),
                                in.Take(rowBytes), rowBytes);
            }
            break;
        }
        case gui::bmp::BI_RLE8:
        case gui::bmp::BI_RLE4: {
            const int needed = layout.compression == gui::bmp::BI_RLE8 ? 8 : 4;
            if (layout.bitCount != needed) ThrowInvalidDib();
            const uint8_t* encoded = in.Take(fields.imageSize);
            image->encoded.assign(encoded, encoded + fields.imageSize);
            image->decoded = false;
            break;
        }
        default:
            ThrowInvalidDib();
    }
    image_ = std::move(image);
}

void TDIB::LoadFromFileData(const uint8_t* data, size_t size) {
    if (size == 0) return;
    if (size < 14 || data[0] != 'B' || data[1] != 'M') ThrowInvalidDib();
    LoadFromStream(data + 14, size - 14);
}

void TDIB::LoadFromFile(const std::string& path) {
    const std::vector<uint8_t> data = gui::bmp::ReadFileBytes(path);
    LoadFromFileData(data.data(), data.size());
}

std::vector<uint8_t> TDIB::SaveToStream() const {
    const Image& image = Decoded();
    std::vector<uint8_t> out;
    if (Empty()) return out;
    auto u16 = [&out](uint32_t v) { gui::PutU16(out, v); };
    auto u32 = [&out](uint32_t v) { gui::PutU32(out, v); };
    const Layout& l = image.layout;
    const bool fields = l.masks != gui::bmp::DefaultMasks(l.bitCount);
    const uint32_t colors = l.bitCount <= 8 ? 1u << l.bitCount : 0;
    u32(40);
    u32(static_cast<uint32_t>(l.width));
    u32(static_cast<uint32_t>(l.height));
    u16(1);
    u16(static_cast<uint32_t>(l.bitCount));
    u32(fields ? gui::bmp::BI_BITFIELDS : gui::bmp::BI_RGB);
    u32(static_cast<uint32_t>(image.bits.size()));
    u32(0);
    u32(0);
    u32(colors);
    u32(0);
    if (fields)
        for (uint32_t m : l.masks) u32(m);
    for (uint32_t i = 0; i < colors; ++i) {
        const gui::TRGBQuad& q = image.colorTable[i];
        out.insert(out.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
    }
    out.insert(out.end(), image.bits.begin(), image.bits.end());
    return out;
}

void TDIB::SetSize(int width, int height, int bitCount) {
    auto image = std::make_shared<Image>();
    image->layout.width = width;
    image->layout.bitCount = bitCount;
    image->layout.masks = gui::bmp::DefaultMasks(bitCount);
    CheckImage(image->layout, height);
    image->layout.height = height < 0 ? -height : height;
    image->colorTable = image_->colorTable;
    image->SyncTable();
    image->bits.assign(image->RowBytes() * static_cast<size_t>(image->layout.height), 0);
    image_ = std::move(image);
}

const TDIB::Image& TDIB::Decoded() const {
    Image& image = *image_;
    if (!image.decoded) {
        std::vector<uint8_t> indices;
        const Layout& l = image.layout;
        gui::bmp::DecodeRle(image.encoded.data(), image.encoded.size(), l.bitCount, l.width, l.height, indices);
        const size_t rowBytes = image.RowBytes();
        image.bits.assign(rowBytes * static_cast<size_t>(l.height), 0);
        for (int y = 0; y < l.height; ++y) {
            uint8_t* row = image.bits.data() + rowBytes * static_cast<size_t>(y);
            const uint8_t* in = indices.data() + static_cast<size_t>(y) * l.width;
            for (int x = 0; x < l.width; ++x) {
                if (l.bitCount == 8)
                    row[x] = in[x];
                else
                    row[x >> 1] |= static_cast<uint8_t>((x & 1) ? (in[x] & 0x0F) : (in[x] << 4));
            }
        }
        image.encoded.clear();
        image.encoded.shrink_to_fit();
        image.decoded = true;
    }
    return image;
}

TDIB::Image& TDIB::Unique() {
    Decoded();
    if (image_.use_count() > 1) image_ = std::make_shared<Image>(*image_);
    return *image_;
}

bool TDIB::Empty() const { return image_->layout.width <= 0 || image_->layout.height <= 0; }
int TDIB::Width() const { return image_->layout.width; }
int TDIB::Height() const { return image_->layout.height; }
int TDIB::BitCount() const { return image_->layout.bitCount; }
uint32_t TDIB::RBitMask() const { return image_->layout.masks[0]; }
uint32_t TDIB::GBitMask() const { return image_->layout.masks[1]; }
uint32_t TDIB::BBitMask() const { return image_->layout.masks[2]; }
const gui::TColorTable& TDIB::ColorTable() const { return image_->colorTable; }

void TDIB::SetColorTable(const gui::TColorTable& table) {
    Image& image = Unique();
    image.colorTable = table;
    image.SyncTable();
}

int TDIB::WidthBytes() const { return static_cast<int>(image_->RowBytes()); }

const uint8_t* TDIB::ScanLine(int y) const {
    const Image& image = Decoded();
    return image.bits.data() + image.RowBytes() * static_cast<size_t>(image.layout.height - 1 - y);
}

uint8_t* TDIB::ScanLine(int y) {
    Image& image = Unique();
    return image.bits.data() + image.RowBytes() * static_cast<size_t>(image.layout.height - 1 - y);
}

void TDIB::RowXrgb(int y, uint32_t* out) const { gui::bmp::UnpackRow(Decoded().layout, ScanLine(y), out); }

uint32_t TDIB::PixelXrgb(int x, int y) const {
    std::vector<uint32_t> row(static_cast<size_t>(Width()));
    RowXrgb(y, row.data());
    return row[static_cast<size_t>(x)];
}

}  // namespace media
