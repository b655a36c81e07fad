#include "gui/Controls.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>

#include "gui/FormFonts.h"

namespace gui {
namespace {

ImVec2 Pos(int x, int y) { return ImVec2(static_cast<float>(x), static_cast<float>(y)); }

}  // namespace

uint32_t ImColorFromRgb(uint32_t color) {
    const uint32_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    return IM_COL32(r, g, b, 255);
}

void DrawBevel(int left, int top, int width, int height, bool raised, int thickness) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImU32 light = ImColorFromRgb(raised ? kButtonHighlight : kButtonShadow);
    const ImU32 dark = ImColorFromRgb(raised ? kButtonShadow : kButtonHighlight);
    for (int i = 0; i < thickness; ++i) {
        const float l = static_cast<float>(left + i) + 0.5f, t = static_cast<float>(top + i) + 0.5f;
        const float r = static_cast<float>(left + width - 1 - i) + 0.5f, b = static_cast<float>(top + height - 1 - i) + 0.5f;
        draw->AddLine(ImVec2(l, b), ImVec2(l, t), light);
        draw->AddLine(ImVec2(l, t), ImVec2(r, t), light);
        draw->AddLine(ImVec2(r, t), ImVec2(r, b), dark);
        draw->AddLine(ImVec2(r, b), ImVec2(l - 1, b), dark);
    }
}

void ApplyFormStyle() {
    ImGui::StyleColorsLight();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0;
    style.FrameRounding = 0;
    style.GrabRounding = 0;
    style.WindowBorderSize = 0;
    style.FrameBorderSize = 1;
    style.WindowPadding = ImVec2(0, 0);
    style.FramePadding = ImVec2(2, 2);
    style.ItemSpacing = ImVec2(4, 2);
    style.GrabMinSize = 12;
    const ImVec4 face = ImGui::ColorConvertU32ToFloat4(ImColorFromRgb(kButtonFace));
    style.Colors[ImGuiCol_WindowBg] = face;
    style.Colors[ImGuiCol_Text] = ImVec4(0, 0, 0, 1);
    style.Colors[ImGuiCol_TextDisabled] = ImVec4(0.5f, 0.5f, 0.5f, 1);
    style.Colors[ImGuiCol_Button] = face;
    style.Colors[ImGuiCol_ButtonHovered] = ImVec4(0.88f, 0.88f, 0.90f, 1);
    style.Colors[ImGuiCol_ButtonActive] = ImVec4(0.70f, 0.72f, 0.76f, 1);
    style.Colors[ImGuiCol_FrameBg] = ImVec4(1, 1, 1, 1);
    style.Colors[ImGuiCol_FrameBgHovered] = ImVec4(0.95f, 0.95f, 1, 1);
    style.Colors[ImGuiCol_FrameBgActive] = ImVec4(0.9f, 0.9f, 1, 1);
    style.Colors[ImGuiCol_CheckMark] = ImVec4(0, 0, 0, 1);
    style.Colors[ImGuiCol_Border] = ImVec4(0.4f, 0.4f, 0.4f, 1);
    style.Colors[ImGuiCol_BorderShadow] = ImVec4(0, 0, 0, 0);
    style.Colors[ImGuiCol_SliderGrab] = face;
    style.Colors[ImGuiCol_SliderGrabActive] = ImVec4(0.70f, 0.72f, 0.76f, 1);
}

TRadioGroup::TRadioGroup(std::string caption, std::vector<std::string> items, ControlBounds bounds, int itemIndex)
    : caption_(std::move(caption)), items_(std::move(items)), bounds_(bounds), itemIndex_(-1) {
    SetItemIndex(itemIndex);
}

void TRadioGroup::SetItemIndex(int index) {
    const int count = static_cast<int>(items_.size());
    if (index < -1) index = -1;
    if (index >= count) index = count - 1;
    itemIndex_ = index;
}

std::string TRadioGroup::SelectedText() const {
    if (itemIndex_ < 0 || itemIndex_ >= static_cast<int>(items_.size())) return {};
    return items_[static_cast<size_t>(itemIndex_)];
}

void TRadioGroup::Draw(const char* id) {
    ImGui::PushID(id);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float textHeight = ImGui::GetTextLineHeight();
    const int frameTop = bounds_.top + static_cast<int>(textHeight / 2);
    // Etched group frame with the caption breaking its top edge.
    const ImU32 shadow = ImColorFromRgb(kButtonShadow), light = ImColorFromRgb(kButtonHighlight);
    const float l = static_cast<float>(bounds_.left), t = static_cast<float>(frameTop);
    const float r = static_cast<float>(bounds_.left + bounds_.width - 2), b = static_cast<float>(bounds_.top + bounds_.height - 2);
    draw->AddRect(ImVec2(l + 1, t + 1), ImVec2(r + 1, b + 1), light);
    draw->AddRect(ImVec2(l, t), ImVec2(r, b), shadow);
    const ImVec2 captionSize = ImGui::CalcTextSize(caption_.c_str());
    draw->AddRectFilled(Pos(bounds_.left + 6, bounds_.top), Pos(bounds_.left + 10 + static_cast<int>(captionSize.x), frameTop + 3),
                        ImColorFromRgb(kButtonFace));
    ImGui::SetCursorPos(Pos(bounds_.left + 8, bounds_.top));
    ImGui::TextUnformatted(caption_.c_str());

    if (!enabled_) ImGui::BeginDisabled();
    const int count = static_cast<int>(items_.size());
    const float inner = static_cast<float>(bounds_.height) - textHeight - 4;
    const float pitch = count > 0 ? inner / static_cast<float>(count) : 0;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
    for (int i = 0; i < count; ++i) {
        const float y = static_cast<float>(bounds_.top) + textHeight + 2 + pitch * static_cast<float>(i) + (pitch - textHeight - 2) / 2;
        ImGui::SetCursorPos(ImVec2(static_cast<float>(bounds_.left + 8), y));
        if (ImGui::RadioButton(items_[static_cast<size_t>(i)].c_str(), itemIndex_ == i)) itemIndex_ = i;
    }
    ImGui::PopStyleVar();
    if (!enabled_) ImGui::EndDisabled();
    ImGui::PopID();
}

TScrollBar::TScrollBar(ControlBounds bounds, int min, int max, int largeChange, int position)
    : bounds_(bounds), min_(min), max_(max), largeChange_(largeChange), position_(std::clamp(position, min, max)) {}

void TScrollBar::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    if (OnChange) OnChange();
}

void TScrollBar::Draw(const char* id) {
    ImGui::PushID(id);
    const float h = static_cast<float>(bounds_.height);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
    ImGui::SetCursorPos(Pos(bounds_.left, bounds_.top));
    if (ImGui::ArrowButtonEx("##less", ImGuiDir_Left, ImVec2(h, h))) SetPosition(position_ - 1);
    ImGui::SameLine(0, 0);
    ImGui::SetNextItemWidth(static_cast<float>(bounds_.width) - 2 * h);
    int value = position_;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, (h - ImGui::GetTextLineHeight()) / 2));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.93f, 0.93f, 0.93f, 1));
    if (ImGui::SliderInt("##track", &value, min_, max_, "", ImGuiSliderFlags_AlwaysClamp)) SetPosition(value);
    if (ImGui::IsItemHovered() && ImGui::GetIO().MouseWheel != 0)
        SetPosition(position_ + (ImGui::GetIO().MouseWheel > 0 ? largeChange_ : -largeChange_));
    ImGui::PopStyleColor();
    ImGui::PopStyleVar();
    ImGui::SameLine(0, 0);
    if (ImGui::ArrowButtonEx("##more", ImGuiDir_Right, ImVec2(h, h))) SetPosition(position_ + 1);
    ImGui::PopStyleVar();
    ImGui::PopID();
}

void TCheckBox::Draw(const char* id) {
    ImGui::PushID(id);
    ImGui::SetCursorPos(Pos(bounds_.left, bounds_.top));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
    ImGui::Checkbox(caption_.c_str(), &checked_);
    ImGui::PopStyleVar();
    ImGui::PopID();
}

bool TButton::Draw(const char* id) {
    ImGui::PushID(id);
    ImGui::SetCursorPos(Pos(bounds_.left, bounds_.top));
    if (default_) ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 2.0f);
    const bool clicked = ImGui::Button(caption_.c_str(), Pos(bounds_.width, bounds_.height));
    if (default_) ImGui::PopStyleVar();
    ImGui::PopID();
    if (clicked && OnClick) OnClick();
    return clicked;
}

void TLabel::Draw() const {
    ImGui::PushFont(GetFormFont(font));
    const float textWidth = ImGui::CalcTextSize(caption.c_str()).x;
    float x = static_cast<float>(left);
    if (alignment == TAlignment::RightJustify) x = static_cast<float>(left + width) - textWidth;
    if (alignment == TAlignment::Center) x = static_cast<float>(left) + (static_cast<float>(width) - textWidth) / 2;
    ImGui::SetCursorPos(ImVec2(x, static_cast<float>(top)));
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(ImColorFromRgb(color)));
    ImGui::TextUnformatted(caption.c_str());
    ImGui::PopStyleColor();
    ImGui::PopFont();
}

}  // namespace gui
