// Canvas fonts: SDL2_ttf fonts opened by family name (resolved through fontconfig) and pixel
// size, kept open for the rest of the run.
#pragma once

#include <string>

struct _TTF_Font;

namespace gui {

// The opened font for a family and pixel size, or nullptr when no font can be opened. An
// empty family is the framework's default, a Japanese-capable sans.
_TTF_Font* OpenFont(const std::string& family, int pixelSize);

}  // namespace gui
