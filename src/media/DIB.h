// Device-independent pictures: TDIB reads raw DIB data (header, colour table, pixels) with the
// media layer's own acceptance rules, and TDXDIB is the component that carries one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/Graphics.h"

namespace media {

class TDIB {
public:
    TDIB();
    ~TDIB();
    // Copies share their pixels until one of them changes.
    TDIB(const TDIB& other);
    TDIB& operator=(const TDIB& other);

    // Raw DIB data as stored in a form description: BITMAPCOREHEADER (12) or
    // BITMAPINFOHEADER (40), colour table, pixels. No data leaves an empty image.
    // Failures: EInvalidGraphic "不正な DIB です", EInvalidGraphicOperation
    // "不正なビット数です (%d)" / "不正なピクセルフォーマットです", EOutOfResources
    // "DIB を作成できません", EReadError for data that ends early.
    void LoadFromStream(const uint8_t* data, size_t size);
    // A DIB file: a 14-byte "BM" file header, then raw DIB data. Empty data changes nothing.
    void LoadFromFileData(const uint8_t* data, size_t size);
    void LoadFromFile(const std::string& path);
    // Raw DIB data (40-byte header, colour table, bottom-up rows), readable by LoadFromStream.
    std::vector<uint8_t> SaveToStream() const;

    // A blank image of the given size and bit count (1, 4, 8, 16, 24 or 32), pixels 0.
    void SetSize(int width, int height, int bitCount);

    bool Empty() const;
    int Width() const;
    int Height() const;
    int BitCount() const;
    uint32_t RBitMask() const;
    uint32_t GBitMask() const;
    uint32_t BBitMask() const;
    // 256 entries; entries beyond the picture's own colours are black.
    const gui::TColorTable& ColorTable() const;
    void SetColorTable(const gui::TColorTable& table);

    // Stored row bytes of row y, counted from the top; writing makes the pixels this copy's own.
    const uint8_t* ScanLine(int y) const;
    uint8_t* ScanLine(int y);
    int WidthBytes() const;
    // The colour at (x, y) as 00RRGGBB.
    uint32_t PixelXrgb(int x, int y) const;
    // Row y (from the top) as 00RRGGBB, `Width()` values.
    void RowXrgb(int y, uint32_t* out) const;

private:
    struct Image;
    const Image& Decoded() const;
    Image& Unique();
    std::shared_ptr<Image> image_;
};

// The component that holds a picture for the program (the arrow sprite sheet).
class TDXDIB {
public:
    TDIB& DIB() { return dib_; }
    const TDIB& DIB() const { return dib_; }

private:
    TDIB dib_;
};

}  // namespace media
