#include "media/MovieScreen.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <new>

namespace media {
namespace {

// A scaled part larger than this only comes from a fit rectangle far beyond the picture's scale.
constexpr int64_t kMaxScaledPixels = int64_t{4} * MovieScreen::kWidth * MovieScreen::kHeight;

int64_t CeilDiv(int64_t a, int64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// The source range [from, to) of `size` pixels whose picture lands on [visibleFrom, visibleTo) of
// a fit range starting at `fitFrom` and `fitSize` long, widened to whole steps of `align` (whole
// chroma samples), and where that range lands, [placedFrom, placedTo).
struct Span {
    int64_t from, to, placedFrom, placedTo;
};
Span SpanOf(int64_t size, int64_t fitFrom, int64_t fitSize, int64_t visibleFrom, int64_t visibleTo, int64_t align) {
    Span s{};
    s.from = (visibleFrom - fitFrom) * size / fitSize / align * align;
    s.to = std::min(size, CeilDiv(CeilDiv((visibleTo - fitFrom) * size, fitSize), align) * align);
    s.placedFrom = fitFrom + (2 * s.from * fitSize + size) / (2 * size);
    s.placedTo = fitFrom + (2 * s.to * fitSize + size) / (2 * size);
    return s;
}

}  // namespace

MovieScreen::MovieScreen(const gui::TRect& fit, gui::PixelFormat format, const gui::Palette* palette, bool exact)
    : fit_(fit), format_(format), flags_(SWS_BILINEAR | (exact ? SWS_BITEXACT | SWS_ACCURATE_RND : 0)) {
    if (palette != nullptr) palette_ = *palette;
    view_ = av_frame_alloc();
    if (view_ == nullptr) throw std::bad_alloc();
}

MovieScreen::~MovieScreen() {
    av_frame_free(&view_);
    sws_freeContext(scaler_);
}

void MovieScreen::Convert(const AVFrame& frame, std::vector<uint8_t>& pixels) {
    const int pitch = Pitch(format_);
    pixels.resize(static_cast<size_t>(pitch) * kHeight);
    const gui::PixelBuffer out{pixels.data(), kWidth, kHeight, pitch, format_, &palette_};
    gui::FillPixels(out, gui::Rect(0, 0, kWidth, kHeight), gui::XrgbToPixel(0, format_, &palette_));

    const int64_t sw = frame.width, sh = frame.height, dw = fit_.Width(), dh = fit_.Height();
    const int64_t left = std::max(fit_.Left, 0), right = std::min(fit_.Right, kWidth);
    const int64_t top = std::max(fit_.Top, 0), bottom = std::min(fit_.Bottom, kHeight);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || left >= right || top >= bottom || desc == nullptr) return;
    // Only the part of the picture on the screen is scaled. Formats packed into bits can only be
    // cut on the right and at the bottom.
    const bool cutsLeft = (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)) == 0;
    const Span x = SpanOf(sw, fit_.Left, dw, cutsLeft ? left : fit_.Left, right, int64_t{1} << desc->log2_chroma_w);
    const Span y = SpanOf(sh, fit_.Top, dh, cutsLeft ? top : fit_.Top, bottom, int64_t{1} << desc->log2_chroma_h);
    const int64_t ow = x.placedTo - x.placedFrom, oh = y.placedTo - y.placedFrom;
    if (x.to <= x.from || y.to <= y.from || ow <= 0 || oh <= 0 || ow * oh > kMaxScaledPixels) return;

    if (av_frame_ref(view_, &frame) < 0) return;
    view_->crop_left = static_cast<size_t>(x.from);
    view_->crop_right = static_cast<size_t>(sw - x.to);
    view_->crop_top = static_cast<size_t>(y.from);
    view_->crop_bottom = static_cast<size_t>(sh - y.to);
    if (av_frame_apply_cropping(view_, AV_FRAME_CROP_UNALIGNED) == 0) {
        scaler_ = sws_getCachedContext(scaler_, view_->width, view_->height, static_cast<AVPixelFormat>(view_->format),
                                       static_cast<int>(ow), static_cast<int>(oh), AV_PIX_FMT_BGR0, flags_, nullptr,
                                       nullptr, nullptr);
        if (scaler_ != nullptr) {
            scaled_.assign(static_cast<size_t>(ow * oh), 0);
            uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(scaled_.data()), nullptr, nullptr, nullptr};
            const int strides[4] = {static_cast<int>(ow * 4), 0, 0, 0};
            sws_scale(scaler_, view_->data, view_->linesize, 0, view_->height, planes, strides);
            for (int64_t row = std::max(y.placedFrom, top); row < std::min(y.placedTo, bottom); ++row) {
                const uint32_t* line = scaled_.data() + (row - y.placedFrom) * ow;
                for (int64_t col = std::max(x.placedFrom, left); col < std::min(x.placedTo, right); ++col)
                    out.Set(static_cast<int>(col), static_cast<int>(row),
                            gui::XrgbToPixel(line[col - x.placedFrom] & 0xFFFFFF, format_, &palette_));
            }
        }
    }
    av_frame_unref(view_);
}

}  // namespace media
