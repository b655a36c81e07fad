// Turns decoded movie pictures into 320×240 screens in a surface's pixel format: the part of the
// picture that lands on the screen is scaled in one step into its place in the fit rectangle, the
// rest of the screen is black, and the colours are mapped to the format (at 8 bits through a copy
// of the surface's palette, so that a worker thread can map on its own). No picture of the
// movie's full size is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/Graphics.h"
#include "gui/Screen.h"

struct AVFrame;
struct SwsContext;

namespace media {

class MovieScreen {
public:
    MovieScreen(const gui::TRect& fit, gui::PixelFormat format, const gui::Palette* palette, bool exact);
    ~MovieScreen();
    MovieScreen(const MovieScreen&) = delete;
    MovieScreen& operator=(const MovieScreen&) = delete;

    static constexpr int kWidth = gui::kScreenWidth;
    static constexpr int kHeight = gui::kScreenHeight;
    // The bytes of one row of a screen in `format`.
    static int Pitch(gui::PixelFormat format) { return kWidth * gui::BytesPerPixel(format); }

    // `frame` placed on a screen, into `pixels` (Pitch × kHeight bytes).
    void Convert(const AVFrame& frame, std::vector<uint8_t>& pixels);

private:
    gui::TRect fit_;
    gui::PixelFormat format_;
    gui::Palette palette_;
    int flags_;
    SwsContext* scaler_ = nullptr;
    AVFrame* view_ = nullptr;
    std::vector<uint32_t> scaled_;
};

}  // namespace media
