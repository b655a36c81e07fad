// The framework bitmap: XRGB8888 pixels read from BMP files or drawn through its canvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/Canvas.h"

namespace gui {

class Bitmap {
public:
    Bitmap();
    ~Bitmap();
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ <= 0 || height_ <= 0; }
    // Resizing keeps the pixels that stay inside and fills the new area with the brush colour.
    void SetSize(int width, int height);
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }

    // Reads a BMP file. Failures: EFOpenError "ファイル %s は開けません", EReadError
    // "ストリームからの読み込みエラー" for a file that ends early, EInvalidGraphic
    // "ビットマップイメージが不正です" for anything else that is not a picture we can hold.
    void LoadFromFile(const std::string& path);
    // The same for a whole BMP file held in memory.
    void LoadFromMemory(const uint8_t* data, size_t size);

    TCanvas& Canvas();

    // Pixels as 00RRGGBB, rows top-down.
    uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    void SetPixel(int x, int y, uint32_t xrgb) { pixels_[static_cast<size_t>(y) * width_ + x] = xrgb; }
    const uint32_t* ScanLine(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
    uint32_t* ScanLine(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
    PixelBuffer Buffer() const;

private:
    class BitmapCanvas;
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
    std::unique_ptr<BitmapCanvas> canvas_;
};

}  // namespace gui
