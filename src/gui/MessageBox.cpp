#include "gui/MessageBox.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "gui/Application.h"
#include "gui/FormFonts.h"
#include "gui/Form.h"

namespace gui {

void ShowMessage(Application& application, const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (!application.HasDisplay()) return;

    // Roughly sized from the text; long texts wrap inside the box.
    const int width = std::clamp(static_cast<int>(text.size()) * 5 + 60, 220, 480);
    Form box(application, caption, width, 96);
    box.SetInteractive(true);
    bool confirmed = false;
    box.OnKeyDown = [&](int key) {
        if (key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE) confirmed = true;
    };
    box.OnClose = [&] { confirmed = true; };
    box.OnPaint = [&] {
        const ImGuiViewport* viewport = ImGui::GetMainViewport();
        ImGui::SetNextWindowPos(viewport->Pos);
        ImGui::SetNextWindowSize(viewport->Size);
        ImGui::PushFont(GetFormFont(FormFont::Gothic12));
        ImGui::Begin("##message", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings);
        ImGui::SetCursorPos(ImVec2(16, 20));
        ImGui::PushTextWrapPos(viewport->Size.x - 16);
        ImGui::TextUnformatted(text.c_str());
        ImGui::PopTextWrapPos();
        ImGui::SetCursorPos(ImVec2((viewport->Size.x - 75) / 2, viewport->Size.y - 34));
        if (ImGui::Button("OK", ImVec2(75, 23))) confirmed = true;
        ImGui::End();
        ImGui::PopFont();
    };
    box.Show();
    application.RunModal(box, [&] { return confirmed || box.Closed(); });
}

}  // namespace gui
