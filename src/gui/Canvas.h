// A canvas draws text, fills and bitmaps onto pixel memory in any of the three pixel formats.
// The framework bitmap and the media layer's surfaces share this one implementation; each says
// where its pixels are (Acquire) and what ends a batch of drawing (Release).
#pragma once

#include <string>

#include "gui/Graphics.h"

namespace gui {

class Bitmap;

enum class TBrushStyle { bsSolid, bsClear };

struct TFont {
    // A font family as the caller names it (for example "ＭＳ Ｐゴシック" or "Arial"); empty
    // means the framework's default, a Japanese-capable sans.
    std::string Name;
    // Size in pixels (the em height).
    int Size = 12;
    TColor Color = clBlack;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};

class TCanvas {
public:
    virtual ~TCanvas() = default;

    TFont& Font() { return font_; }
    TBrush& Brush() { return brush_; }

    // Writes UTF-8 text with its top-left corner at (x, y); a solid brush fills the text's
    // cell first, a clear brush leaves the background as it is.
    void TextOut(int x, int y, const std::string& text);
    int TextWidth(const std::string& text);
    int TextHeight(const std::string& text);
    // Fills the rectangle (clipped) with the brush colour.
    void FillRect(const TRect& rect);
    // Copies the whole bitmap with its top-left corner at (x, y). A bitmap may be drawn onto
    // its own canvas at an offset (scrolling).
    void Draw(int x, int y, const Bitmap& bitmap);
    // Copies `sourceRect` of the bitmap into `dest`, scaled (nearest pixel).
    void CopyRect(const TRect& dest, const Bitmap& source, const TRect& sourceRect);
    void StretchDraw(const TRect& dest, const Bitmap& source);

    // Ends a batch of drawing; the pixels may then be used by blits or presented.
    virtual void Release() {}

protected:
    // The pixels to draw on. Raises when the canvas has nothing to draw on.
    virtual PixelBuffer Acquire() = 0;

private:
    TFont font_;
    TBrush brush_;
};

}  // namespace gui
