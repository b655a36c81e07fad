#include "gui/Canvas.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gui/Bitmap.h"
#include "gui/Fonts.h"
#include "gui/TextEncoding.h"

namespace gui {

namespace {

uint32_t Mix(uint32_t front, uint32_t back, uint32_t alpha) {
    const uint32_t inverse = 255 - alpha;
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t f = (front >> shift) & 0xFF, b = (back >> shift) & 0xFF;
        out |= ((f * alpha + b * inverse + 127) / 255) << shift;
    }
    return out;
}

// Copies rows of 00RRGGBB pixels into the target, converting to its format.
void PutRow(const PixelBuffer& target, int x, int y, const uint32_t* xrgb, int count) {
    if (target.format == PixelFormat::XRGB8888) {
        std::memmove(reinterpret_cast<uint32_t*>(target.Row(y)) + x, xrgb, static_cast<size_t>(count) * 4);
        return;
    }
    for (int i = 0; i < count; ++i) target.Set(x + i, y, XrgbToPixel(xrgb[i], target.format, target.palette));
}

struct TextRun {
    TTF_Font* font;
    std::string text;
};

// The text cut into runs of one font each: the requested font where it has the glyph, else a
// font that fontconfig finds for the character (a Korean title in the Japanese gothic), else
// the requested font's missing-glyph box.
std::vector<TextRun> FontRuns(TTF_Font* font, int pixelSize, const std::string& text) {
    std::vector<TextRun> runs;
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        char32_t codepoint = 0;
        TTF_Font* used = font;
        if (NextUtf8(text, i, codepoint) && TTF_GlyphIsProvided32(font, codepoint) == 0) {
            if (TTF_Font* fallback = OpenFallbackFont(codepoint, pixelSize)) used = fallback;
        }
        if (runs.empty() || runs.back().font != used) runs.push_back({used, {}});
        runs.back().text.append(text, start, i - start);
    }
    return runs;
}

SDL_Surface* RenderRun(const TextRun& run) {
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(run.font, run.text.c_str(), SDL_Color{255, 255, 255, 255});
    if (rendered == nullptr || rendered->format->format == SDL_PIXELFORMAT_ARGB8888) return rendered;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    return converted;
}

// The text as white glyphs with their coverage in alpha (ARGB8888), or null when there is
// nothing to draw. Runs in other fonts stand on the requested font's baseline.
SDL_Surface* RenderText(const TFont& request, const std::string& text) {
    TTF_Font* font = OpenFont(request.Name, request.Size);
    if (font == nullptr || text.empty()) return nullptr;
    const std::vector<TextRun> runs = FontRuns(font, request.Size, text);
    if (runs.size() == 1) return RenderRun(runs.front());
    std::vector<SDL_Surface*> pieces;
    int width = 0, ascent = 0, descent = 0;
    for (const TextRun& run : runs) {
        pieces.push_back(RenderRun(run));
        if (pieces.back() == nullptr) continue;
        width += pieces.back()->w;
        ascent = std::max(ascent, TTF_FontAscent(run.font));
        descent = std::max(descent, pieces.back()->h - TTF_FontAscent(run.font));
    }
    SDL_Surface* glyphs = width > 0 ? SDL_CreateRGBSurfaceWithFormat(0, width, ascent + descent, 32, SDL_PIXELFORMAT_ARGB8888)
                                    : nullptr;
    int x = 0;
    for (size_t k = 0; k < runs.size(); ++k) {
        SDL_Surface* piece = pieces[k];
        if (piece == nullptr) continue;
        if (glyphs != nullptr) {
            SDL_SetSurfaceBlendMode(piece, SDL_BLENDMODE_NONE);
            SDL_Rect at{x, ascent - TTF_FontAscent(runs[k].font), piece->w, piece->h};
            SDL_BlitSurface(piece, nullptr, glyphs, &at);
        }
        x += piece->w;
        SDL_FreeSurface(piece);
    }
    return glyphs;
}

}  // namespace

void TCanvas::TextOut(int x, int y, const std::string& text) {
    const PixelBuffer target = Acquire();
    if (text.empty() || target.Empty()) return;
    SDL_Surface* glyphs = RenderText(font_, text);
    if (glyphs == nullptr) return;
    if (brush_.Style == TBrushStyle::bsSolid) {
        const uint32_t brush = XrgbToPixel(ColorToXrgb(ColorToRGB(brush_.Color)), target.format, target.palette);
        FillPixels(target, Bounds(x, y, glyphs->w, glyphs->h), brush);
    }
    const uint32_t color = ColorToXrgb(ColorToRGB(font_.Color));
    const uint32_t colorPixel = XrgbToPixel(color, target.format, target.palette);
    const TRect area = Intersect(Bounds(x, y, glyphs->w, glyphs->h), Rect(0, 0, target.width, target.height));
    for (int dy = area.Top; dy < area.Bottom; ++dy) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(glyphs->pixels) +
                                                            static_cast<ptrdiff_t>(dy - y) * glyphs->pitch);
        for (int dx = area.Left; dx < area.Right; ++dx) {
            const uint32_t alpha = row[dx - x] >> 24;
            if (alpha == 0) continue;
            if (alpha == 255) {
                target.Set(dx, dy, colorPixel);
            } else if (target.format == PixelFormat::Indexed8) {
                // No smoothing in 256 colours: a glyph pixel is either the font colour or not.
                if (alpha >= 128) target.Set(dx, dy, colorPixel);
            } else {
                const uint32_t back = PixelToXrgb(target.Get(dx, dy), target.format, target.palette);
                target.Set(dx, dy, XrgbToPixel(Mix(color, back, alpha), target.format, target.palette));
            }
        }
    }
    SDL_FreeSurface(glyphs);
}

int TCanvas::TextWidth(const std::string& text) {
    TTF_Font* font = OpenFont(font_.Name, font_.Size);
    if (font == nullptr) return 0;
    int width = 0;
    for (const TextRun& run : FontRuns(font, font_.Size, text)) {
        int w = 0, h = 0;
        if (TTF_SizeUTF8(run.font, run.text.c_str(), &w, &h) == 0) width += w;
    }
    return width;
}

int TCanvas::TextHeight(const std::string& text) {
    TTF_Font* font = OpenFont(font_.Name, font_.Size);
    int w = 0, h = 0;
    if (font == nullptr || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0) return font_.Size;
    return h;
}

void TCanvas::FillRect(const TRect& rect) {
    const PixelBuffer target = Acquire();
    if (brush_.Style == TBrushStyle::bsClear) return;
    FillPixels(target, rect, XrgbToPixel(ColorToXrgb(ColorToRGB(brush_.Color)), target.format, target.palette));
}

void TCanvas::Draw(int x, int y, const Bitmap& bitmap) {
    const PixelBuffer target = Acquire();
    if (target.Empty() || bitmap.Empty()) return;
    const TRect area = Intersect(Bounds(x, y, bitmap.Width(), bitmap.Height()), Rect(0, 0, target.width, target.height));
    if (area.Empty()) return;
    // When a bitmap is drawn onto itself moved down, rows are copied from the bottom up so
    // that no row is overwritten before it has been copied.
    const bool bottomUp = y > 0 && target.bits == reinterpret_cast<const uint8_t*>(bitmap.ScanLine(0));
    for (int i = 0; i < area.Height(); ++i) {
        const int dy = bottomUp ? area.Bottom - 1 - i : area.Top + i;
        PutRow(target, area.Left, dy, bitmap.ScanLine(dy - y) + (area.Left - x), area.Width());
    }
}

void TCanvas::CopyRect(const TRect& dest, const Bitmap& source, const TRect& sourceRect) {
    const PixelBuffer target = Acquire();
    if (target.Empty() || source.Empty() || dest.Empty() || sourceRect.Empty()) return;
    const TRect area = Intersect(dest, Rect(0, 0, target.width, target.height));
    if (area.Empty()) return;
    // Copying a bitmap onto itself reads from a snapshot.
    const Bitmap* from = &source;
    Bitmap snapshot;
    if (target.bits == reinterpret_cast<const uint8_t*>(source.ScanLine(0))) {
        snapshot = source;
        from = &snapshot;
    }
    const int64_t dw = dest.Width(), dh = dest.Height();
    const int64_t sw = sourceRect.Width(), sh = sourceRect.Height();
    for (int dy = area.Top; dy < area.Bottom; ++dy) {
        const int64_t sy = sourceRect.Top + (dy - dest.Top) * sh / dh;
        if (sy < 0 || sy >= from->Height()) continue;
        const uint32_t* row = from->ScanLine(static_cast<int>(sy));
        for (int dx = area.Left; dx < area.Right; ++dx) {
            const int64_t sx = sourceRect.Left + (dx - dest.Left) * sw / dw;
            if (sx < 0 || sx >= from->Width()) continue;
            target.Set(dx, dy, XrgbToPixel(row[sx], target.format, target.palette));
        }
    }
}

void TCanvas::StretchDraw(const TRect& dest, const Bitmap& source) {
    CopyRect(dest, source, Rect(0, 0, source.Width(), source.Height()));
}

}  // namespace gui
