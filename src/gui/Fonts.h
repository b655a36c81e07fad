// Canvas fonts: SDL2_ttf fonts opened by family name (resolved through fontconfig) and pixel
// size, kept open for the rest of the run.
#pragma once

#include <string>

struct _TTF_Font;

namespace gui {

// The opened font for a family and pixel size, or nullptr when no font can be opened. An
// empty family is the framework's default, a Japanese-capable sans.
_TTF_Font* OpenFont(const std::string& family, int pixelSize);
// A font of that pixel size that has a glyph for `codepoint`, for the characters that the
// requested font lacks: one already taken for another character when it has the glyph, else
// the one fontconfig finds; nullptr when no installed font has one.
_TTF_Font* OpenFallbackFont(char32_t codepoint, int pixelSize);

}  // namespace gui
