#include "gui/FormFonts.h"

#include <imgui.h>

#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "gui/FontFiles.h"

namespace gui {
namespace {

struct FaceSpec {
    const char* family;
    bool bold;
    bool italic;
    float pixels;
    bool japanese;
};

constexpr FaceSpec kFaces[] = {
    {"ＭＳ Ｐゴシック", false, false, 12.0f, true}, {"ＭＳ Ｐゴシック", true, false, 12.0f, true},
    {"Arial", false, true, 24.0f, false},         {"Arial", true, true, 19.0f, false},
    {"Arial", true, true, 15.0f, false},          {"Arial", true, false, 15.0f, false},
};
static_assert(std::size(kFaces) == static_cast<size_t>(FormFont::Count));

struct LoadedFonts {
    ImFontAtlas atlas;
    std::array<ImFont*, static_cast<size_t>(FormFont::Count)> fonts{};
};

LoadedFonts& Loaded() {
    // Never destroyed, so that no form's context is left pointing at it while statics go.
    static LoadedFonts* loaded = [] {
        auto* result = new LoadedFonts;
        ImFontAtlas& atlas = result->atlas;
        // A bold face the system lacks resolves to the regular file; its glyphs are the same.
        std::map<std::tuple<std::string, float, bool>, ImFont*> byFile;
        ImFont* fallback = nullptr;
        for (size_t i = 0; i < std::size(kFaces); ++i) {
            const FaceSpec& face = kFaces[i];
            const std::string path = FindFontFile({face.family, face.bold, face.italic});
            ImFont*& font = byFile[{path, face.pixels, face.japanese}];
            if (font == nullptr && !path.empty() && std::filesystem::exists(path)) {
                ImFontConfig config;
                config.OversampleH = 1;
                config.OversampleV = 1;
                config.PixelSnapH = true;
                font = atlas.AddFontFromFileTTF(path.c_str(), face.pixels, &config,
                                                face.japanese ? atlas.GetGlyphRangesJapanese()
                                                              : atlas.GetGlyphRangesDefault());
            }
            if (font == nullptr) {
                if (fallback == nullptr) fallback = atlas.AddFontDefault();
                font = fallback;
            }
            result->fonts[i] = font;
        }
        return result;
    }();
    return *loaded;
}

}  // namespace

ImFontAtlas* FormFontAtlas() { return &Loaded().atlas; }

void ReleaseFormFontSources() {
    ImFontAtlas& atlas = Loaded().atlas;
    if (!atlas.IsBuilt()) return;
    atlas.ClearInputData();
    IM_FREE(atlas.TexPixelsRGBA32);
    atlas.TexPixelsRGBA32 = nullptr;
}

bool SynthesisedBold(FormFont font) {
    const FaceSpec& face = kFaces[static_cast<size_t>(font)];
    return face.bold && FindFont({face.family, face.bold, face.italic}).boldMissing;
}

ImFont* GetFormFont(FormFont font) { return Loaded().fonts[static_cast<size_t>(font)]; }

}  // namespace gui
