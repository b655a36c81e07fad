// BMP files through the framework bitmap's reader, then drawn onto a canvas.
#include <cstddef>
#include <cstdint>

#include "gui/Bitmap.h"
#include "gui/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    gui::Bitmap bitmap;
    try {
        bitmap.LoadFromMemory(data, size);
    } catch (const gui::Exception&) {
        return 0;
    }
    gui::Bitmap target;
    target.SetSize(32, 24);
    target.Canvas().StretchDraw(gui::Rect(0, 0, 32, 24), bitmap);
    target.Canvas().Draw(-1, -1, bitmap);
    return 0;
}
