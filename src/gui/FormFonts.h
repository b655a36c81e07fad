// The ImGui fonts that forms draw with: the forms' Japanese gothic and the Arial faces of
// their labels. Every form's ImGui context carries the same set, in this order.
#pragma once

struct ImGuiIO;
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

// Adds the fonts to a new ImGui context's atlas (falls back to ImGui's own font when a face is missing).
void AddFormFonts(ImGuiIO& io);
// The font of the current ImGui context.
ImFont* GetFormFont(FormFont font);
// True for a bold face that the system lacks: the regular face stands in and is drawn bolder.
bool SynthesisedBold(FormFont font);

}  // namespace gui
