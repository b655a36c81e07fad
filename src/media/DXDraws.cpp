#include "media/DXDraws.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "gui/Bitmap.h"
#include "gui/BmpDecode.h"
#include "gui/Form.h"
#include "media/DIB.h"
#include "media/DXPresenter.h"

namespace media {

namespace {

// Records the result of a call and says whether it succeeded.
bool Record(TDirectX& object, HResult result) {
    object.SetLastResult(result);
    return result == DD_OK;
}

}  // namespace

using gui::PixelFormat;
using gui::TRect;

TDirectDraw::TDirectDraw(PixelFormat format) : format_(format) {}

TDirectDraw::~TDirectDraw() {
    for (TDirectDrawSurface* surface : surfaces_) {
        surface->Release();
        surface->owner_ = nullptr;
    }
}

void TDirectDraw::Register(TDirectDrawSurface* surface) { surfaces_.push_back(surface); }

void TDirectDraw::Unregister(TDirectDrawSurface* surface) {
    surfaces_.erase(std::remove(surfaces_.begin(), surfaces_.end(), surface), surfaces_.end());
}

gui::PixelBuffer TDirectDrawSurfaceCanvas::Acquire() {
    if (!surface_.IsCreated())
        throw EDirectDrawSurfaceError(gui::Format("%s は作成されていません", "IDirectDrawSurface"));
    if (surface_.Lost()) throw gui::EInvalidOperation("Canvas に対する描画ができません");
    held_ = true;
    return surface_.Buffer();
}

TDirectDrawSurface::TDirectDrawSurface(TDirectDraw* owner) : owner_(nullptr) { Attach(owner); }

TDirectDrawSurface::~TDirectDrawSurface() {
    if (owner_ != nullptr) owner_->Unregister(this);
}

void TDirectDrawSurface::Attach(TDirectDraw* owner) {
    if (owner_ != nullptr) owner_->Unregister(this);
    Release();
    owner_ = owner;
    if (owner_ != nullptr) {
        owner_->Register(this);
        format_ = owner_->SurfaceFormat();
    }
}

void TDirectDrawSurface::Release() {
    pixels_.clear();
    pixels_.shrink_to_fit();
    width_ = height_ = pitch_ = 0;
    lost_ = false;
    if (canvas_) canvas_->Release();
}

void TDirectDrawSurface::SetSize(int width, int height) {
    if (width <= 0 || height <= 0) {
        Release();
        Record(*this, DD_OK);
        return;
    }
    const auto fail = [this] {
        Release();
        Record(*this, DDERR_INVALIDPARAMS);
        return EDirectDrawSurfaceError(gui::Format("%s を作成できません", "サーフェース"));
    };
    if (owner_ == nullptr || gui::bmp::ExceedsPictureLimits(width, height))
        throw fail();
    format_ = owner_->SurfaceFormat();
    const int pitch = (width * gui::BytesPerPixel(format_) + 3) & ~3;
    try {
        pixels_.assign(static_cast<size_t>(pitch) * height, 0);
    } catch (const std::bad_alloc&) {
        throw fail();
    }
    width_ = width;
    height_ = height;
    pitch_ = pitch;
    colorKey_ = 0;
    lost_ = false;
    Record(*this, DD_OK);
}

gui::PixelBuffer TDirectDrawSurface::Buffer() const {
    gui::PixelBuffer b;
    if (!IsCreated()) return b;
    b.bits = const_cast<uint8_t*>(pixels_.data());
    b.width = width_;
    b.height = height_;
    b.pitch = pitch_;
    b.format = format_;
    b.palette = PaletteInForce();
    return b;
}

const gui::Palette* TDirectDrawSurface::PaletteInForce() const {
    return owner_ != nullptr ? &owner_->Palette().Palette() : nullptr;
}

void TDirectDrawSurface::CopyPicture(int width, int height,
                                     const std::function<void(int y, uint32_t* row)>& rowXrgb) {
    SetSize(width, height);
    if (!IsCreated()) return;
    const gui::PixelBuffer target = Buffer();
    std::vector<uint32_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        rowXrgb(y, row.data());
        for (int x = 0; x < width; ++x) target.Set(x, y, gui::XrgbToPixel(row[x], format_, target.palette));
    }
    Canvas().Release();
}

void TDirectDrawSurface::LoadGraphic(const TDIB& dib) {
    CopyPicture(dib.Empty() ? 0 : dib.Width(), dib.Empty() ? 0 : dib.Height(),
                [&dib](int y, uint32_t* row) { dib.RowXrgb(y, row); });
}

void TDirectDrawSurface::LoadGraphic(const gui::Bitmap& bitmap) {
    CopyPicture(bitmap.Width(), bitmap.Height(), [&bitmap](int y, uint32_t* row) {
        std::memcpy(row, bitmap.ScanLine(y), static_cast<size_t>(bitmap.Width()) * 4);
    });
}

uint32_t TDirectDrawSurface::DeviceColor(gui::TColor color) {
    if (!IsCreated()) return 0;
    return gui::XrgbToPixel(gui::ColorToXrgb(gui::ColorToRGB(color)), format_, PaletteInForce());
}

bool TDirectDrawSurface::Fill(uint32_t pixel) {
    if (!IsCreated()) return Record(*this, DDERR_INVALIDOBJECT);
    if (lost_) return Record(*this, DDERR_SURFACELOST);
    gui::FillPixels(Buffer(), gui::Rect(0, 0, width_, height_), pixel);
    return Record(*this, DD_OK);
}

void TDirectDrawSurface::FillRect(const TRect& rect, uint32_t pixel) {
    if (!IsCreated() || lost_) return;
    gui::FillPixels(Buffer(), rect, pixel);
}

namespace {

template <typename Pixel>
void KeyedRow(Pixel* dest, const Pixel* source, int count, Pixel key, bool backwards) {
    if (backwards) {
        for (int i = count - 1; i >= 0; --i)
            if (source[i] != key) dest[i] = source[i];
    } else {
        for (int i = 0; i < count; ++i)
            if (source[i] != key) dest[i] = source[i];
    }
}

inline uint32_t BlendXrgb(uint32_t s, uint32_t d, uint32_t a) {
    const uint32_t ia = 255 - a;
    uint32_t rb = (s & 0xFF00FF) * a + (d & 0xFF00FF) * ia + 0x800080;
    rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
    uint32_t g = (s & 0xFF00) * a + (d & 0xFF00) * ia + 0x8000;
    g = ((g + ((g >> 8) & 0xFF00)) >> 8) & 0xFF00;
    return rb | g;
}

// Blends two RGB565 pixels with a weight of a32/32, all channels at once.
inline uint16_t Blend565(uint32_t s, uint32_t d, uint32_t a32) {
    const uint32_t se = (s | (s << 16)) & 0x07E0F81F;
    const uint32_t de = (d | (d << 16)) & 0x07E0F81F;
    const uint32_t r = ((se * a32 + de * (32 - a32)) >> 5) & 0x07E0F81F;
    return static_cast<uint16_t>(r | (r >> 16));
}

template <typename Pixel, typename Put>
void StretchRows(const gui::PixelBuffer& dest, const gui::PixelBuffer& source, const TRect& clip, int64_t sx0,
                 int64_t sy0, int64_t stepX, int64_t stepY, bool transparent, uint32_t key, Put put) {
    int64_t sy = sy0;
    for (int y = clip.Top; y < clip.Bottom; ++y, sy += stepY) {
        const auto* in = reinterpret_cast<const Pixel*>(source.Row(static_cast<int>(sy >> 16)));
        auto* out = reinterpret_cast<Pixel*>(dest.Row(y));
        int64_t sx = sx0;
        for (int x = clip.Left; x < clip.Right; ++x, sx += stepX) {
            const Pixel p = in[sx >> 16];
            if (transparent && p == static_cast<Pixel>(key)) continue;
            out[x] = put(p, out[x]);
        }
    }
}

}  // namespace

bool TDirectDrawSurface::FastBlit(int x, int y, const TRect& srcRect, int flags, const TDirectDrawSurface* source) {
    if (!IsCreated()) return Record(*this, DDERR_INVALIDOBJECT);
    if (source == nullptr || !source->IsCreated()) return Record(*this, DDERR_INVALIDPARAMS);
    if (lost_ || source->lost_) return Record(*this, DDERR_SURFACELOST);
    if ((flags & ~(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT)) != 0 || source->format_ != format_)
        return Record(*this, DDERR_INVALIDPARAMS);
    const int w = srcRect.Width(), h = srcRect.Height();
    if (srcRect.Empty() || srcRect.Left < 0 || srcRect.Top < 0 || srcRect.Right > source->width_ ||
        srcRect.Bottom > source->height_ || x < 0 || y < 0 || w > width_ - x || h > height_ - y)
        return Record(*this, DDERR_INVALIDRECT);

    const int bpp = gui::BytesPerPixel(format_);
    const bool same = source == this;
    // Overlapping copies within one surface go in the direction that reads every pixel
    // before it is overwritten.
    const bool bottomUp = same && y > srcRect.Top;
    const bool backwards = same && y == srcRect.Top && x > srcRect.Left;
    const bool keyed = (flags & DDBLTFAST_SRCCOLORKEY) != 0;
    for (int i = 0; i < h; ++i) {
        const int row = bottomUp ? h - 1 - i : i;
        uint8_t* out = pixels_.data() + static_cast<ptrdiff_t>(y + row) * pitch_ + static_cast<ptrdiff_t>(x) * bpp;
        const uint8_t* in = source->pixels_.data() + static_cast<ptrdiff_t>(srcRect.Top + row) * source->pitch_ +
                            static_cast<ptrdiff_t>(srcRect.Left) * bpp;
        if (!keyed) {
            std::memmove(out, in, static_cast<size_t>(w) * bpp);
            continue;
        }
        const uint32_t key = source->colorKey_;
        switch (format_) {
            case PixelFormat::Indexed8: KeyedRow(out, in, w, static_cast<uint8_t>(key), backwards); break;
            case PixelFormat::RGB565:
                KeyedRow(reinterpret_cast<uint16_t*>(out), reinterpret_cast<const uint16_t*>(in), w,
                         static_cast<uint16_t>(key), backwards);
                break;
            case PixelFormat::XRGB8888:
                KeyedRow(reinterpret_cast<uint32_t*>(out), reinterpret_cast<const uint32_t*>(in), w, key, backwards);
                break;
        }
    }
    return Record(*this, DD_OK);
}

void TDirectDrawSurface::DrawBlended(const TRect& destRect, const TRect& srcRect, const TDirectDrawSurface* source,
                                     bool transparent, int alpha) {
    if (!IsCreated() || source == nullptr || !source->IsCreated() || alpha <= 0) return;
    if (lost_ || source->lost_ || source->format_ != format_) return;
    if (destRect.Empty() || srcRect.Empty() || srcRect.Left < 0 || srcRect.Top < 0 ||
        srcRect.Right > source->width_ || srcRect.Bottom > source->height_)
        return;
    const TRect clip = gui::Intersect(destRect, gui::Rect(0, 0, width_, height_));
    if (clip.Empty()) return;
    alpha = std::min(alpha, 255);
    const int64_t stepX = (int64_t{srcRect.Width()} << 16) / destRect.Width();
    const int64_t stepY = (int64_t{srcRect.Height()} << 16) / destRect.Height();
    const int64_t sx0 = (int64_t{srcRect.Left} << 16) + stepX * (clip.Left - destRect.Left);
    const int64_t sy0 = (int64_t{srcRect.Top} << 16) + stepY * (clip.Top - destRect.Top);
    const gui::PixelBuffer out = Buffer();
    const gui::PixelBuffer in = source->Buffer();
    const uint32_t key = source->colorKey_;
    const bool blend = format_ != PixelFormat::Indexed8 && alpha < 255;
    const auto copy = [](auto s, auto) { return s; };
    switch (format_) {
        case PixelFormat::Indexed8:
            StretchRows<uint8_t>(out, in, clip, sx0, sy0, stepX, stepY, transparent, key, copy);
            break;
        case PixelFormat::RGB565:
            if (blend) {
                const uint32_t a32 = (static_cast<uint32_t>(alpha) * 32 + 127) / 255;
                StretchRows<uint16_t>(out, in, clip, sx0, sy0, stepX, stepY, transparent, key,
                                      [a32](uint16_t s, uint16_t d) { return Blend565(s, d, a32); });
            } else {
                StretchRows<uint16_t>(out, in, clip, sx0, sy0, stepX, stepY, transparent, key, copy);
            }
            break;
        case PixelFormat::XRGB8888:
            if (blend) {
                const uint32_t a = static_cast<uint32_t>(alpha);
                StretchRows<uint32_t>(out, in, clip, sx0, sy0, stepX, stepY, transparent, key,
                                      [a](uint32_t s, uint32_t d) { return BlendXrgb(s, d, a); });
            } else {
                StretchRows<uint32_t>(out, in, clip, sx0, sy0, stepX, stepY, transparent, key, copy);
            }
            break;
    }
}

TDirectDrawSurfaceCanvas& TDirectDrawSurface::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TDirectDrawSurfaceCanvas>(*this);
    return *canvas_;
}

void TDirectDrawDisplay::SetBitCount(int bitCount) {
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        throw EDirectDrawError("8, 16, 24, 32 のいずれかの値でなければなりません");
    bitCount_ = bitCount;
}

void TDirectDrawDisplay::Assign(const TDirectDrawDisplay& other) {
    if (&other == this) return;
    bitCount_ = other.bitCount_;
    width_ = other.width_;
    height_ = other.height_;
    FixedBitCount = other.FixedBitCount;
    FixedRatio = other.FixedRatio;
    FixedSize = other.FixedSize;
}

TDXDraw::TDXDraw(gui::Form* form)
    : form_(form),
      options_{doAllowReboot, doWaitVBlank, doCenter, doHardware, doRetainedMode, doSelectDriver, doRGB, doMono, doDither},
      effective_(EffectiveFrom(options_)),
      colorTable_(gui::SystemPalette()),
      defaultColorTable_(gui::SystemPalette()),
      surface_(std::make_unique<TDirectDrawSurface>(nullptr)) {}

TDXDraw::~TDXDraw() {
    try {
        Finalize();
    } catch (...) {
    }
}

TDXDrawOptions TDXDraw::EffectiveFrom(TDXDrawOptions options) {
    TDXDrawOptions r = options;
    if (!r.Contains(doFullScreen))
        for (TDXDrawOption o : {doNoWindowChange, doAllowReboot, doAllowPalette256, doFlip}) r.Exclude(o);
    if (!r.Contains(do3D))
        for (int bit = doHardware; bit <= doDither; ++bit) r.Exclude(static_cast<TDXDrawOption>(bit));
    if (r.Contains(doSystemMemory)) r.Exclude(doFlip);
    r.Exclude(doHardware);
    return r;
}

void TDXDraw::SetOptions(TDXDrawOptions options) {
    options_ = options;
    if (!initialized_) {
        effective_ = EffectiveFrom(options);
        return;
    }
    // While initialised only the presentation options change; the rest waits for Initialize.
    constexpr uint32_t kLive = (1u << doWaitVBlank) | (1u << doStretch) | (1u << doCenter) | (1u << doDither);
    TDXDrawOptions r = TDXDrawOptions::FromBits((effective_.Bits() & ~kLive) | (options.Bits() & kLive));
    if (!r.Contains(do3D))
        for (int bit = doHardware; bit <= doDither; ++bit) r.Exclude(static_cast<TDXDrawOption>(bit));
    effective_ = r;
}

int TDXDraw::SurfaceWidth() const {
    if (surface_->IsCreated()) return surface_->Width();
    return AutoSize && form_ != nullptr ? form_->ClientWidth() : surfaceWidth_;
}

int TDXDraw::SurfaceHeight() const {
    if (surface_->IsCreated()) return surface_->Height();
    return AutoSize && form_ != nullptr ? form_->ClientHeight() : surfaceHeight_;
}

void TDXDraw::Initialize() {
    Finalize();
    if (OnInitializing) OnInitializing();
    initializing_ = true;
    guard_ = true;
    try {
        const bool fullScreen = effective_.Contains(doFullScreen);
        PixelFormat format = PixelFormat::XRGB8888;
        int width = std::max(SurfaceWidth(), 1);
        int height = std::max(SurfaceHeight(), 1);
        if (fullScreen) {
            // No display mode is switched: the requested mode is drawn at its own size and
            // scaled to the desktop.
            if (display_.Width() <= 0 || display_.Height() <= 0)
                throw EDXDrawError(gui::Format("ディスプレイモードを変更できません (%dx%d %dbit)", display_.Width(),
                                               display_.Height(), display_.BitCount()));
            format = display_.BitCount() == 8    ? PixelFormat::Indexed8
                     : display_.BitCount() == 16 ? PixelFormat::RGB565
                                                 : PixelFormat::XRGB8888;
            width = display_.Width();
            height = display_.Height();
            if (form_ != nullptr) {
                form_->SetFullScreen(true);
                fullScreenSet_ = true;
            }
        }
        directDraw_ = std::make_unique<TDirectDraw>(format);
        ApplyColorTable(colorTable_);
        surface_->Attach(directDraw_.get());
        try {
            surface_->SetSize(width, height);
        } catch (const EDirectDrawSurfaceError&) {
            throw EDXDrawError(gui::Format("%s を作成できません", "サーフェース"));
        }
        surface_->Fill(0);
        if (form_ != nullptr) {
            if (form_->Renderer() != nullptr) presenter_ = std::make_unique<TDXPresenter>(form_->Renderer());
            form_->SetPaintSuspended(true);
        }
        initialized_ = true;
        initializing_ = false;
        guard_ = false;
    } catch (...) {
        Finalize();
        throw;
    }
    if (OnInitialize) OnInitialize();
    initializeFired_ = true;
    if (OnInitializeSurface) OnInitializeSurface();
    initializeSurfaceFired_ = true;
    Restore();
}

void TDXDraw::Finalize() {
    if (!initialized_ && !initializing_) return;
    if (surface_->IsCreated()) {
        surfaceWidth_ = surface_->Width();
        surfaceHeight_ = surface_->Height();
    }
    guard_ = true;
    std::exception_ptr error;
    try {
        if (initializeSurfaceFired_ && OnFinalizeSurface) OnFinalizeSurface();
        if (initializeFired_ && OnFinalize) OnFinalize();
    } catch (...) {
        error = std::current_exception();
    }
    initializeSurfaceFired_ = initializeFired_ = false;
    initialized_ = initializing_ = false;
    effective_ = EffectiveFrom(options_);
    presenter_.reset();
    if (form_ != nullptr) {
        if (fullScreenSet_) form_->SetFullScreen(false);
        form_->SetPaintSuspended(false);
    }
    fullScreenSet_ = false;
    // Frees the pixels of every surface still registered, the back surface among them.
    directDraw_.reset();
    lost_ = false;
    guard_ = false;
    if (error) std::rethrow_exception(error);
}

void TDXDraw::ApplyColorTable(const gui::TColorTable& table) {
    if (!directDraw_) return;
    gui::TColorTable entries = table;
    if (!effective_.Contains(doAllowPalette256)) {
        const gui::TColorTable& system = gui::SystemPalette();
        for (int i = 0; i < 10; ++i) {
            entries[static_cast<size_t>(i)] = system[static_cast<size_t>(i)];
            entries[static_cast<size_t>(246 + i)] = system[static_cast<size_t>(246 + i)];
        }
    }
    for (gui::TRGBQuad& e : entries) e.rgbReserved = 0x40;
    directDraw_->Palette().SetEntries(entries);
}

void TDXDraw::UpdatePalette() { ApplyColorTable(colorTable_); }

void TDXDraw::SurfaceLost() {
    lost_ = true;
    surface_->SetLost(true);
}

void TDXDraw::Restore() {
    if (!initialized_ || guard_) return;
    guard_ = true;
    std::exception_ptr error;
    try {
        lost_ = false;
        surface_->SetLost(false);
        surface_->Fill(0);
        ApplyColorTable(defaultColorTable_);
        if (OnRestoreSurface) OnRestoreSurface();
        ApplyColorTable(colorTable_);
    } catch (...) {
        error = std::current_exception();
    }
    guard_ = false;
    if (error) std::rethrow_exception(error);
}

bool TDXDraw::RestoreIfLost() {
    if (presenter_ && presenter_->TakeLost()) SurfaceLost();
    if (lost_) Restore();
    return !lost_;
}

bool TDXDraw::ReadyToDraw() {
    if (!initialized_ || guard_ || !surface_->IsCreated()) return false;
    return RestoreIfLost();
}

void TDXDraw::Flip() {
    if (!initialized_ || guard_ || !RestoreIfLost()) return;
    if (effective_.Contains(doFullScreen) && form_ != nullptr && !form_->Focused()) return;
    if (presenter_ && !presenter_->Present(*surface_)) {
        SurfaceLost();
        return;
    }
    ++flipCount_;
}

}  // namespace media
