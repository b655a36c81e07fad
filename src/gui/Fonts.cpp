#include "gui/Fonts.h"

#include <SDL_ttf.h>

#include <cstdio>
#include <map>
#include <utility>

#include "gui/FontFiles.h"

namespace gui {

TTF_Font* OpenFont(const std::string& family, int pixelSize) {
    static std::map<std::pair<std::string, int>, TTF_Font*> fonts;
    if (pixelSize <= 0) pixelSize = 12;
    const auto key = std::make_pair(family, pixelSize);
    if (auto it = fonts.find(key); it != fonts.end()) return it->second;
    const std::string file = FindFontFile(FontRequest{family});
    TTF_Font* font = nullptr;
    if (!file.empty() && (TTF_WasInit() != 0 || TTF_Init() == 0)) font = TTF_OpenFont(file.c_str(), pixelSize);
    // Hinted for one-pixel stems: crisp small text, as a Windows screen font would give.
    if (font != nullptr) TTF_SetFontHinting(font, TTF_HINTING_MONO);
    if (font == nullptr) std::fprintf(stderr, "no font for \"%s\": canvas text is not drawn\n", family.c_str());
    fonts.emplace(key, font);
    return font;
}

}  // namespace gui
