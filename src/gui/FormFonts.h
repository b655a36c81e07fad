// The ImGui fonts that forms draw with: the forms' Japanese gothic and the Arial faces of
// their labels, in one atlas that every form's ImGui context shares.
#pragma once

struct ImFontAtlas;
struct ImFont;

namespace gui {

enum class FormFont {
    Gothic12,          // the forms' font: "ＭＳ Ｐゴシック", 12 pixels, with Japanese glyphs
    Bold12,            // 12 pixels, bold
    ArialItalic24,     // title panel caption
    ArialBoldItalic19,
    ArialBoldItalic15,
    ArialBold15,
    Count
};

// The atlas of the forms' fonts, loaded at the first call (ImGui's own font stands in for a face
// that is missing). Faces that come from the same file at the same size are one font in it.
ImFontAtlas* FormFontAtlas();
// Frees what the atlas needs no more once a renderer has made its texture of it: the font files
// and the 32-bit copy of its pixels. Its 8-bit pixels stay for the textures of later renderers.
void ReleaseFormFontSources();
// The font of the forms' atlas.
ImFont* GetFormFont(FormFont font);
// True for a bold face that the system lacks: the regular face stands in and is drawn bolder.
bool SynthesisedBold(FormFont font);

}  // namespace gui
