#include "gui/FormFonts.h"

#include <imgui.h>

#include <filesystem>

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

}  // namespace

void AddFormFonts(ImGuiIO& io) {
    for (const FaceSpec& face : kFaces) {
        const std::string path = FindFontFile({face.family, face.bold, face.italic});
        ImFont* font = nullptr;
        if (!path.empty() && std::filesystem::exists(path)) {
            ImFontConfig config;
            config.OversampleH = 1;
            config.OversampleV = 1;
            config.PixelSnapH = true;
            font = io.Fonts->AddFontFromFileTTF(path.c_str(), face.pixels, &config,
                                                face.japanese ? io.Fonts->GetGlyphRangesJapanese()
                                                              : io.Fonts->GetGlyphRangesDefault());
        }
        if (font == nullptr) io.Fonts->AddFontDefault();
    }
}

bool SynthesisedBold(FormFont font) {
    const FaceSpec& face = kFaces[static_cast<size_t>(font)];
    return face.bold && FindFont({face.family, face.bold, face.italic}).boldMissing;
}

ImFont* GetFormFont(FormFont font) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    const int index = static_cast<int>(font);
    if (index < atlas->Fonts.Size) return atlas->Fonts[index];
    return ImGui::GetFont();
}

}  // namespace gui
