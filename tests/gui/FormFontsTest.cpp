#include <gtest/gtest.h>

#include <SDL.h>
#include <imgui.h>

#include <vector>

#include "gui/Application.h"
#include "gui/Controls.h"
#include "gui/FontFiles.h"
#include "gui/Form.h"
#include "gui/FormFonts.h"

namespace {

struct Ink {
    int pixels = 0;  // dark pixels
    int left = 1 << 30, right = -1;
};

// Draws `label` alone on the face colour of `form` (120×30) and measures its dark pixels.
Ink Paint(gui::Form& form, const gui::TLabel& label) {
    form.OnPaint = [&] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(120, 30));
        ImGui::Begin("##label", nullptr, ImGuiWindowFlags_NoDecoration);
        label.Draw();
        ImGui::End();
    };
    form.Show();
    form.Repaint();
    std::vector<uint32_t> pixels(120 * 30);
    EXPECT_EQ(SDL_RenderReadPixels(form.Renderer(), nullptr, SDL_PIXELFORMAT_XRGB8888, pixels.data(), 120 * 4), 0);
    Ink ink;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x)
            if ((pixels[static_cast<size_t>(y * 120 + x)] & 0xFF) < 0x60) {
                ++ink.pixels;
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
            }
    return ink;
}

Ink InkOf(gui::Application& application, const gui::TLabel& label) {
    gui::Form form(application, "label", 120, 30);
    return Paint(form, label);
}

TEST(FormFonts, BoldTextInAFaceWithoutBoldIsDrawnBolder) {
    // The forms' Japanese gothic has no bold face on this system; fontconfig says so.
    ASSERT_TRUE(gui::FindFont({"ＭＳ Ｐゴシック", true, false}).boldMissing);
    ASSERT_TRUE(gui::SynthesisedBold(gui::FormFont::Bold12));
    EXPECT_FALSE(gui::SynthesisedBold(gui::FormFont::Gothic12));
    EXPECT_FALSE(gui::FindFont({"ＭＳ Ｐゴシック", false, false}).boldMissing);

    gui::Application application;
    const Ink regular = InkOf(application, {"Version 1.2", 4, 8, 0, gui::FormFont::Gothic12});
    const Ink bold = InkOf(application, {"Version 1.2", 4, 8, 0, gui::FormFont::Bold12});
    ASSERT_GT(regular.pixels, 30);
    EXPECT_GT(bold.pixels, regular.pixels * 13 / 10) << regular.pixels << " " << bold.pixels;
    // One pixel wider per character: 11 characters.
    EXPECT_EQ(bold.left, regular.left);
    EXPECT_GE(bold.right - regular.right, 10);

    // Right-aligned bold text still ends at the label's right edge.
    const Ink right = InkOf(application, {"Version 1.2", 0, 8, 100, gui::FormFont::Bold12, 0, gui::TAlignment::RightJustify});
    EXPECT_LE(right.right, 100);
    EXPECT_GE(right.right, 97);
}

TEST(FormFonts, ABoldFaceThatExistsIsUsedAsItIs) {
    const gui::FontMatch bold = gui::FindFont({"Arial", true, false});
    ASSERT_FALSE(bold.file.empty());
    EXPECT_FALSE(bold.boldMissing);
    EXPECT_NE(bold.file, gui::FindFontFile({"Arial", false, false}));
    EXPECT_FALSE(gui::SynthesisedBold(gui::FormFont::ArialBold15));
}

TEST(FormFonts, FormsOpenTogetherEachDrawTheSharedFontsWithTheirOwnRenderer) {
    gui::Application application;
    const gui::TLabel label{"設定 Version", 4, 8, 0, gui::FormFont::Gothic12};
    gui::Form first(application, "first", 120, 30);
    const Ink alone = Paint(first, label);
    ASSERT_GT(alone.pixels, 30);
    // A form made after the first has drawn, when the font files are no longer held, and the
    // first again after it.
    gui::Form second(application, "second", 120, 30);
    EXPECT_EQ(Paint(second, label).pixels, alone.pixels);
    EXPECT_EQ(Paint(first, label).pixels, alone.pixels);
}

}  // namespace
