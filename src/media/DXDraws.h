// The display component and its drawing objects. TDXDraw sets up a 320×240 picture in a window
// or in desktop full screen and presents its back surface; TDirectDraw owns every surface of a
// display; TDirectDrawSurface is a pixel buffer (8-bit palette index, RGB565 or XRGB8888) with
// fills, fast blits, blended blits, colour conversion and a canvas.
//
// Ownership: a surface object belongs to whoever created it. Its pixel memory belongs to its
// TDirectDraw owner: when the display is finalised the owner frees the pixels of every surface
// still registered, and those surface objects then report empty (Width 0, blits fail, canvas
// drawing raises) instead of dangling.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "gui/Canvas.h"
#include "gui/Graphics.h"
#include "media/DirectX.h"

namespace gui {
class Bitmap;
class Form;
}  // namespace gui

namespace media {

class TDIB;
class TDirectDraw;
class TDirectDrawSurface;
class TDXPresenter;

GUI_DECLARE_EXCEPTION(EDirectDrawError, EDirectXError);
GUI_DECLARE_EXCEPTION(EDirectDrawSurfaceError, EDirectDrawError);
GUI_DECLARE_EXCEPTION(EDXDrawError, Exception);

// Result codes recorded in LastResult.
constexpr HResult DDERR_INVALIDPARAMS = static_cast<HResult>(0x80070057);
constexpr HResult DDERR_INVALIDOBJECT = static_cast<HResult>(0x88760082);
constexpr HResult DDERR_INVALIDRECT = static_cast<HResult>(0x88760096);
constexpr HResult DDERR_SURFACELOST = static_cast<HResult>(0x887601C2);

// FastBlit flags.
constexpr int DDBLTFAST_NOCOLORKEY = 0;
constexpr int DDBLTFAST_SRCCOLORKEY = 1;
constexpr int DDBLTFAST_WAIT = 0x10;

// The 256 colours in force for 8-bit surfaces.
class TDirectDrawPalette : public TDirectX {
public:
    const gui::Palette& Palette() const { return palette_; }
    void SetEntries(const gui::TColorTable& table) { palette_.SetEntries(table); }

private:
    gui::Palette palette_;
};

// Owns the pixel memory of its surfaces and fixes their pixel format.
class TDirectDraw : public TDirectX {
public:
    explicit TDirectDraw(gui::PixelFormat format = gui::PixelFormat::XRGB8888);
    ~TDirectDraw() override;
    TDirectDraw(const TDirectDraw&) = delete;
    TDirectDraw& operator=(const TDirectDraw&) = delete;

    gui::PixelFormat SurfaceFormat() const { return format_; }
    TDirectDrawPalette& Palette() { return palette_; }
    const TDirectDrawPalette& Palette() const { return palette_; }
    // Number of surfaces registered (the display's back surface among them).
    int SurfaceCount() const { return static_cast<int>(surfaces_.size()); }

private:
    friend class TDirectDrawSurface;
    void Register(TDirectDrawSurface* surface);
    void Unregister(TDirectDrawSurface* surface);

    gui::PixelFormat format_;
    TDirectDrawPalette palette_;
    std::vector<TDirectDrawSurface*> surfaces_;
};

// The canvas of a surface. Drawing on an empty surface raises EDirectDrawSurfaceError
// "IDirectDrawSurface は作成されていません"; on a lost surface EInvalidOperation
// "Canvas に対する描画ができません".
class TDirectDrawSurfaceCanvas : public gui::TCanvas {
public:
    explicit TDirectDrawSurfaceCanvas(TDirectDrawSurface& surface) : surface_(surface) {}
    void Release() override { held_ = false; }
    bool Held() const { return held_; }

protected:
    gui::PixelBuffer Acquire() override;

private:
    TDirectDrawSurface& surface_;
    bool held_ = false;
};

class TDirectDrawSurface : public TDirectX {
public:
    // An empty surface registered with `owner` (which may be nullptr: such a surface can never
    // get pixels).
    explicit TDirectDrawSurface(TDirectDraw* owner);
    ~TDirectDrawSurface() override;
    TDirectDrawSurface(const TDirectDrawSurface&) = delete;
    TDirectDrawSurface& operator=(const TDirectDrawSurface&) = delete;

    TDirectDraw* DDraw() const { return owner_; }
    // True while the surface has pixels (DirectDraw: has an interface).
    bool IsCreated() const { return width_ > 0; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    gui::PixelFormat Format() const { return format_; }
    int BitCount() const { return gui::BytesPerPixel(format_) * 8; }
    bool SystemMemory() const { return true; }

    // Gives the surface pixels of this size in its owner's format, colour key 0; the content
    // is undefined. A width or height ≤ 0 empties the surface. Raises
    // EDirectDrawSurfaceError "サーフェース を作成できません" when no pixels can be had.
    void SetSize(int width, int height);
    // Resizes to the picture and copies it in, colours mapped to the surface's format.
    void LoadGraphic(const TDIB& dib);
    void LoadGraphic(const gui::Bitmap& bitmap);

    // The pixel value of a colour (00BBGGRR): the nearest palette index on 8-bit surfaces, the
    // packed pixel otherwise; 0 for an empty surface.
    uint32_t DeviceColor(gui::TColor color);
    void SetTransparentColor(uint32_t pixel) { colorKey_ = pixel; }
    uint32_t TransparentColor() const { return colorKey_; }

    bool Fill(uint32_t pixel);
    void FillRect(const gui::TRect& rect, uint32_t pixel);
    // Copies `srcRect` of `source` with its top-left corner at (x, y). Flags:
    // DDBLTFAST_SRCCOLORKEY skips pixels equal to the source's colour key. Returns false and
    // draws nothing when either surface is empty or lost, the formats differ, the source
    // rectangle is empty or not inside the source, or the destination does not fit.
    bool FastBlit(int x, int y, const gui::TRect& srcRect, int flags, const TDirectDrawSurface* source);
    // Scaled copy of `srcRect` into `destRect` (clipped), colour-keyed when `transparent`,
    // blended with weight alpha/255 on RGB surfaces when alpha < 255, copied otherwise.
    void DrawBlended(const gui::TRect& destRect, const gui::TRect& srcRect, const TDirectDrawSurface* source,
                     bool transparent, int alpha);

    // Created on first use, owned by the surface.
    TDirectDrawSurfaceCanvas& Canvas();

    // Raw access (tests, the presenter).
    uint32_t Pixel(int x, int y) const { return Buffer().Get(x, y); }
    void SetPixel(int x, int y, uint32_t pixel) { Buffer().Set(x, y, pixel); }
    uint8_t* Bits() { return pixels_.empty() ? nullptr : pixels_.data(); }
    const uint8_t* Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }
    int Pitch() const { return pitch_; }
    gui::PixelBuffer Buffer() const;
    // The palette used for 8-bit pixels (the owner's), nullptr without an owner.
    const gui::Palette* PaletteInForce() const;

    // A lost surface refuses blits and canvas drawing until restored (display loss).
    bool Lost() const { return lost_; }
    void SetLost(bool lost) { lost_ = lost; }

private:
    friend class TDirectDraw;
    friend class TDXDraw;
    void Release();
    void Attach(TDirectDraw* owner);
    void CopyPicture(int width, int height, const std::function<void(int y, uint32_t* row)>& rowXrgb);

    TDirectDraw* owner_;
    gui::PixelFormat format_ = gui::PixelFormat::XRGB8888;
    int width_ = 0;
    int height_ = 0;
    int pitch_ = 0;
    std::vector<uint8_t> pixels_;
    uint32_t colorKey_ = 0;
    bool lost_ = false;
    std::unique_ptr<TDirectDrawSurfaceCanvas> canvas_;
};

enum TDXDrawOption {
    doFullScreen,
    doNoWindowChange,
    doAllowReboot,
    doWaitVBlank,
    doAllowPalette256,
    doSystemMemory,
    doStretch,
    doCenter,
    doFlip,
    do3D,
    doHardware,
    doRetainedMode,
    doSelectDriver,
    doZBuffer,
    doRGB,
    doMono,
    doDither,
};

// A set of TDXDrawOption, bit i = option i.
class TDXDrawOptions {
public:
    constexpr TDXDrawOptions() = default;
    constexpr TDXDrawOptions(std::initializer_list<TDXDrawOption> options) {
        for (TDXDrawOption o : options) bits_ |= 1u << o;
    }
    static constexpr TDXDrawOptions FromBits(uint32_t bits) {
        TDXDrawOptions o;
        o.bits_ = bits;
        return o;
    }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool Contains(TDXDrawOption o) const { return (bits_ & (1u << o)) != 0; }
    constexpr void Include(TDXDrawOption o) { bits_ |= 1u << o; }
    constexpr void Exclude(TDXDrawOption o) { bits_ &= ~(1u << o); }
    constexpr bool operator==(const TDXDrawOptions&) const = default;

private:
    uint32_t bits_ = 0;
};

// The requested full-screen mode.
class TDirectDrawDisplay {
public:
    int BitCount() const { return bitCount_; }
    // Only 8, 16, 24 and 32; anything else raises EDirectDrawError.
    void SetBitCount(int bitCount);
    int Width() const { return width_; }
    void SetWidth(int width) { width_ = width < 0 ? 0 : width; }
    int Height() const { return height_; }
    void SetHeight(int height) { height_ = height < 0 ? 0 : height; }
    bool FixedBitCount = true;
    bool FixedRatio = true;
    bool FixedSize = false;
    // Copies the six properties (nothing when `other` is this object).
    void Assign(const TDirectDrawDisplay& other);

private:
    int bitCount_ = 8;
    int width_ = 640;
    int height_ = 480;
};

class TDXDraw {
public:
    // `form` may be nullptr (tests, the offline renderer): everything is then drawn into memory
    // and Flip only counts frames.
    explicit TDXDraw(gui::Form* form);
    ~TDXDraw();
    TDXDraw(const TDXDraw&) = delete;
    TDXDraw& operator=(const TDXDraw&) = delete;

    gui::Form* Form() const { return form_; }
    TDirectDrawDisplay& Display() { return display_; }
    void SetDisplay(const TDirectDrawDisplay& display) { display_.Assign(display); }
    TDXDrawOptions Options() const { return options_; }
    void SetOptions(TDXDrawOptions options);
    TDXDrawOptions EffectiveOptions() const { return effective_; }
    // Size of the back surface in a window (the form's client size when AutoSize and a form).
    bool AutoSize = true;
    int SurfaceWidth() const;
    int SurfaceHeight() const;
    void SetSurfaceWidth(int width) { surfaceWidth_ = width; }
    void SetSurfaceHeight(int height) { surfaceHeight_ = height; }

    // Finalises first; raises EDXDrawError when the mode cannot be set, after finalising.
    void Initialize();
    // Frees every surface's pixels and leaves full screen; harmless when not initialised.
    void Finalize();
    bool Initialized() const { return initialized_; }
    // Initialised, not inside Initialize/Finalize/Restore, a back surface, and the picture not
    // lost (a lost one is restored first).
    bool ReadyToDraw();
    // Presents the back surface (in full screen only while the form has the focus).
    void Flip();
    // Restores a lost picture: clears the back surface to 0, re-applies the palette, fires
    // OnRestoreSurface.
    void Restore();
    // Marks the picture lost; the next ReadyToDraw or Flip restores it.
    void SurfaceLost();

    // The back surface: never nullptr, empty while not initialised.
    TDirectDrawSurface* Surface() { return surface_.get(); }
    // The owner for new surfaces; nullptr while not initialised.
    TDirectDraw* DirectDraw() { return directDraw_.get(); }

    // Colours for 8-bit surfaces; ColorTable is applied by Initialize and UpdatePalette.
    gui::TColorTable& ColorTable() { return colorTable_; }
    gui::TColorTable& DefaultColorTable() { return defaultColorTable_; }
    void UpdatePalette();

    // Frames presented (or counted, without a form) since construction.
    int FlipCount() const { return flipCount_; }

    std::function<void()> OnInitializing;
    std::function<void()> OnInitialize;
    std::function<void()> OnInitializeSurface;
    std::function<void()> OnFinalizeSurface;
    std::function<void()> OnFinalize;
    std::function<void()> OnRestoreSurface;

private:
    static TDXDrawOptions EffectiveFrom(TDXDrawOptions options);
    void ApplyColorTable(const gui::TColorTable& table);
    bool RestoreIfLost();

    gui::Form* form_;
    TDirectDrawDisplay display_;
    TDXDrawOptions options_;
    TDXDrawOptions effective_;
    int surfaceWidth_ = 320;
    int surfaceHeight_ = 240;
    bool initialized_ = false;
    bool initializing_ = false;
    bool guard_ = false;
    bool lost_ = false;
    bool initializeFired_ = false;
    bool initializeSurfaceFired_ = false;
    bool fullScreenSet_ = false;
    int flipCount_ = 0;
    gui::TColorTable colorTable_{};
    gui::TColorTable defaultColorTable_{};
    std::unique_ptr<TDirectDraw> directDraw_;
    std::unique_ptr<TDirectDrawSurface> surface_;
    std::unique_ptr<TDXPresenter> presenter_;
};

}  // namespace media
