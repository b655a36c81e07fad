// Picture files through the chart picture loader (our BMP reader, then SDL2_image for PNG,
// JPEG, GIF, TGA and WebP), then drawn onto a canvas.
#include <cstddef>
#include <cstdint>

#include "gui/BmpDecode.h"
#include "gui/Exception.h"
#include "gui/PictureFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    gui::Bitmap bitmap;
    try {
        gui::LoadPictureFromMemory(bitmap, data, size);
    } catch (const gui::Exception&) {
        return 0;
    }
    if (int64_t{bitmap.Width()} * bitmap.Height() > gui::bmp::kMaxPixels) __builtin_trap();
    gui::Bitmap target;
    target.SetSize(32, 24);
    target.Canvas().StretchDraw(gui::Rect(0, 0, 32, 24), bitmap);
    target.Canvas().Draw(-1, -1, bitmap);
    return 0;
}
