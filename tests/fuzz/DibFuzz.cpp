// Raw DIB data and DIB files through the media layer's reader, then into a surface.
#include <cstddef>
#include <cstdint>

#include "gui/Exception.h"
#include "media/DIB.h"
#include "media/DXDraws.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    media::TDIB dib;
    try {
        // The first byte picks raw data or a file with its 14-byte header.
        if (data[0] & 1)
            dib.LoadFromFileData(data + 1, size - 1);
        else
            dib.LoadFromStream(data + 1, size - 1);
    } catch (const gui::Exception&) {
        return 0;
    }
    // Decoding and converting big pictures takes long and teaches the fuzzer nothing that
    // small ones do not.
    if (dib.Empty() || int64_t{dib.Width()} * dib.Height() > (int64_t{1} << 20)) return 0;
    const media::TDIB copy = dib;
    volatile uint32_t sink = copy.PixelXrgb(dib.Width() - 1, dib.Height() - 1);
    (void)sink;
    media::TDirectDraw dd(data[0] & 2 ? gui::PixelFormat::Indexed8 : gui::PixelFormat::RGB565);
    media::TDirectDrawSurface surface(&dd);
    surface.LoadGraphic(dib);
    return 0;
}
