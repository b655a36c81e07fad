#include "gui/Bitmap.h"

#include <algorithm>

#include "gui/BmpDecode.h"

namespace gui {

class Bitmap::BitmapCanvas : public TCanvas {
public:
    explicit BitmapCanvas(Bitmap& bitmap) : bitmap_(bitmap) {}

protected:
    PixelBuffer Acquire() override { return bitmap_.Buffer(); }

private:
    Bitmap& bitmap_;
};

namespace {

[[noreturn]] void ThrowInvalid() { throw EInvalidGraphic("ビットマップイメージが不正です"); }

bool ValidBitCount(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

Bitmap::Bitmap() : canvas_(std::make_unique<BitmapCanvas>(*this)) {}

Bitmap::~Bitmap() = default;

Bitmap::Bitmap(const Bitmap& other)
    : width_(other.width_), height_(other.height_), pixels_(other.pixels_),
      canvas_(std::make_unique<BitmapCanvas>(*this)) {
    canvas_->Font() = other.canvas_->Font();
    canvas_->Brush() = other.canvas_->Brush();
}

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this == &other) return *this;
    width_ = other.width_;
    height_ = other.height_;
    pixels_ = other.pixels_;
    canvas_->Font() = other.canvas_->Font();
    canvas_->Brush() = other.canvas_->Brush();
    return *this;
}

TCanvas& Bitmap::Canvas() { return *canvas_; }

PixelBuffer Bitmap::Buffer() const {
    PixelBuffer b;
    if (Empty()) return b;
    b.bits = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(pixels_.data()));
    b.width = width_;
    b.height = height_;
    b.pitch = width_ * 4;
    b.format = PixelFormat::XRGB8888;
    return b;
}

void Bitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    if (bmp::ExceedsPictureLimits(width, height))
        throw EOutOfResources(Format("%s を作成できません", "Bitmap"));
    const uint32_t fill = ColorToXrgb(ColorToRGB(canvas_->Brush().Color));
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, fill);
    const int keepW = std::min(width, width_), keepH = std::min(height, height_);
    for (int y = 0; y < keepH; ++y)
        std::copy_n(pixels_.begin() + static_cast<ptrdiff_t>(y) * width_, keepW,
                    pixels.begin() + static_cast<ptrdiff_t>(y) * width);
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
}

void Bitmap::LoadFromFile(const std::string& path) {
    const std::vector<uint8_t> data = bmp::ReadFileBytes(path);
    LoadFromMemory(data.data(), data.size());
}

void Bitmap::LoadFromMemory(const uint8_t* data, size_t size) {
    using namespace bmp;
    Reader in(data, size);
    const uint8_t* fileHeader = in.Take(14);
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') ThrowInvalid();
    const uint32_t offBits = uint32_t{fileHeader[10]} | (uint32_t{fileHeader[11]} << 8) |
                             (uint32_t{fileHeader[12]} << 16) | (uint32_t{fileHeader[13]} << 24);

    Layout layout;
    const uint32_t headerSize = in.U32();
    const bool os2 = headerSize == kOs2ShortHeader || headerSize == kOs2Header;
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124 && !os2)
        ThrowInvalid();
    const HeaderFields fields = ReadHeaderFields(in, headerSize, layout);
    const bool core = fields.core;
    int64_t height = fields.height;
    bool headerMasks = false;
    if (headerSize == kOs2Header) {
        in.Skip(kOs2Header - 40);
    } else if (headerSize >= 52) {
        layout.masks = {in.U32(), in.U32(), in.U32()};
        headerMasks = true;
        in.Skip(headerSize - 52);
    }
    if (fields.planes != 1 || !ValidBitCount(layout.bitCount)) ThrowInvalid();
    // OS/2 has no bit fields: its compression 3 is Huffman coding, which no reader here takes.
    if (os2 && layout.compression == BI_BITFIELDS) ThrowInvalid();
    switch (layout.compression) {
        case BI_RGB: layout.masks = DefaultMasks(layout.bitCount); break;
        case BI_RLE8: if (layout.bitCount != 8) ThrowInvalid(); break;
        case BI_RLE4: if (layout.bitCount != 4) ThrowInvalid(); break;
        case BI_BITFIELDS:
            if (layout.bitCount != 16 && layout.bitCount != 32) ThrowInvalid();
            if (!headerMasks) layout.masks = {in.U32(), in.U32(), in.U32()};
            break;
        default: ThrowInvalid();
    }
    if (height < 0) {
        layout.topDown = true;
        height = -height;
    }
    if (layout.width <= 0 || height <= 0 || ExceedsPictureLimits(layout.width, height))
        ThrowInvalid();
    layout.height = static_cast<int>(height);

    if (layout.bitCount <= 8) {
        const uint32_t slots = 1u << layout.bitCount;
        const uint32_t count = fields.colorsUsed == 0 || fields.colorsUsed > slots ? slots : fields.colorsUsed;
        const size_t entrySize = core ? 3 : 4;
        const uint8_t* table = in.Take(count * entrySize);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = table + i * entrySize;
            layout.table[i] = (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
        }
    }
    // The pixels start where the file header says, unless that points into the headers.
    if (offBits >= in.Position()) in.Seek(offBits);

    std::vector<uint32_t> pixels(static_cast<size_t>(layout.width) * layout.height);
    auto destRow = [&](int stored) {
        const int y = layout.topDown ? stored : layout.height - 1 - stored;
        return pixels.data() + static_cast<size_t>(y) * layout.width;
    };
    if (layout.compression == BI_RLE8 || layout.compression == BI_RLE4) {
        const size_t length = fields.imageSize != 0 ? fields.imageSize : in.Remaining();
        const uint8_t* encoded = in.Take(length);
        std::vector<uint8_t> indices;
        DecodeRle(encoded, length, layout.bitCount, layout.width, layout.height, indices);
        for (int row = 0; row < layout.height; ++row) {
            uint32_t* out = destRow(row);
            const uint8_t* in8 = indices.data() + static_cast<size_t>(row) * layout.width;
            for (int x = 0; x < layout.width; ++x) out[x] = layout.table[in8[x]];
        }
    } else {
        const size_t rowBytes = layout.RowBytes();
        const uint8_t* rows = in.Take(rowBytes * static_cast<size_t>(layout.height));
        for (int row = 0; row < layout.height; ++row) UnpackRow(layout, rows + rowBytes * row, destRow(row));
    }
    width_ = layout.width;
    height_ = layout.height;
    pixels_ = std::move(pixels);
}

}  // namespace gui
