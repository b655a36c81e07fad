#include "gui/Fonts.h"

#include <SDL_ttf.h>

#include <cstdio>
#include <map>
#include <utility>

#include "gui/FontFiles.h"

namespace gui {
namespace {

TTF_Font* OpenFontFile(const std::string& file, int pixelSize) {
    TTF_Font* font = nullptr;
    if (!file.empty() && (TTF_WasInit() != 0 || TTF_Init() == 0)) font = TTF_OpenFont(file.c_str(), pixelSize);
    // Hinted for one-pixel stems: crisp small text, as a Windows screen font would give.
    if (font != nullptr) TTF_SetFontHinting(font, TTF_HINTING_MONO);
    return font;
}

}  // namespace

TTF_Font* OpenFont(const std::string& family, int pixelSize) {
    static std::map<std::pair<std::string, int>, TTF_Font*> fonts;
    if (pixelSize <= 0) pixelSize = 12;
    const auto key = std::make_pair(family, pixelSize);
    if (auto it = fonts.find(key); it != fonts.end()) return it->second;
    TTF_Font* font = OpenFontFile(FindFontFile(FontRequest{family}), pixelSize);
    if (font == nullptr) std::fprintf(stderr, "no font for \"%s\": canvas text is not drawn\n", family.c_str());
    fonts.emplace(key, font);
    return font;
}

TTF_Font* OpenFallbackFont(char32_t codepoint, int pixelSize) {
    static std::map<std::pair<std::string, int>, TTF_Font*> fonts;
    if (pixelSize <= 0) pixelSize = 12;
    // A font taken for an earlier character mostly has the next ones of its script too, and
    // asking fontconfig takes milliseconds per character.
    for (const auto& [key, font] : fonts)
        if (key.second == pixelSize && font != nullptr && TTF_GlyphIsProvided32(font, codepoint) != 0) return font;
    const std::string file = FindFallbackFontFile(codepoint);
    if (file.empty()) return nullptr;
    const auto key = std::make_pair(file, pixelSize);
    if (auto it = fonts.find(key); it != fonts.end()) return it->second;
    return fonts.emplace(key, OpenFontFile(file, pixelSize)).first->second;
}

}  // namespace gui
