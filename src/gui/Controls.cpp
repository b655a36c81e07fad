#include "gui/Controls.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

#include "gui/FormFonts.h"
#include "gui/VirtualKeys.h"

namespace gui {
namespace {

ImVec2 Pos(int x, int y) { return ImVec2(static_cast<float>(x), static_cast<float>(y)); }

ImRect BoundsRect(const ControlBounds& bounds) {
    return ImRect(Pos(bounds.left, bounds.top), Pos(bounds.left + bounds.width, bounds.top + bounds.height));
}

// The keyboard focus frame of item `id`: a line just inside `frame`, kept within the control's
// bounds and the form. (ImGui's own frame, made invisible in ApplyFormStyle, lies four pixels
// outside the item, so that a control at the form's edge loses a side of it.)
void DrawFocusFrame(ImRect frame, const ControlBounds& bounds, ImGuiID id) {
    const ImGuiContext& g = *ImGui::GetCurrentContext();
    if (g.NavId != id || g.NavDisableHighlight) return;
    frame.ClipWith(BoundsRect(bounds));
    frame.ClipWith(ImGui::GetCurrentWindow()->InnerRect);
    if (frame.GetWidth() < 3 || frame.GetHeight() < 3) return;
    ImGui::GetWindowDrawList()->AddRect(frame.Min, frame.Max, ImColorFromRgb(kFocusMark));
}

// The frame around the caption of the check box or radio button just drawn, as the classic
// controls mark their focus: the box stays clear of it.
ImRect CaptionFrame() {
    const ImRect item(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
    const float captionLeft = item.Min.x + ImGui::GetFrameHeight() + ImGui::GetStyle().ItemInnerSpacing.x;
    return ImRect(ImVec2(captionLeft - 2, item.Min.y), ImVec2(item.Max.x + 2, item.Max.y));
}

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
    // The controls draw their focus frames themselves, inside their bounds (DrawFocusFrame).
    style.Colors[ImGuiCol_NavHighlight] = ImVec4(0, 0, 0, 0);
}

bool TWinControl::CanFocus(int clientWidth, int clientHeight) const {
    return enabled_ && window_ != nullptr && bounds_.left < clientWidth && bounds_.top < clientHeight &&
           bounds_.left + bounds_.width > 0 && bounds_.top + bounds_.height > 0;
}

bool TWinControl::Focused() const { return FocusedItem() >= 0; }

int TWinControl::FocusedItem() const {
    if (context_ == nullptr || context_->NavId == 0) return -1;
    const auto it = std::find(itemIds_.begin(), itemIds_.end(), context_->NavId);
    return it == itemIds_.end() ? -1 : static_cast<int>(it - itemIds_.begin());
}

void TWinControl::SetFocus() {
    if (focusItem_ != 0) FocusItem(focusItem_);
}

void TWinControl::FocusItem(uint32_t id) {
    if (context_ == nullptr || window_ == nullptr || id == 0) return;
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(context_);
    ImGui::SetFocusID(id, window_);
    // Focus moved from the keyboard shows its mark (the mouse keeps working as it was), and
    // overrides the item that ImGui would pick for a window that has just appeared.
    context_->NavDisableHighlight = false;
    context_->NavInitRequest = false;
    context_->NavInitResultId = 0;
    ImGui::SetCurrentContext(previous);
}

void TWinControl::SetItems(std::vector<uint32_t> items, uint32_t focusItem) {
    context_ = ImGui::GetCurrentContext();
    window_ = ImGui::GetCurrentWindow();
    itemIds_ = std::move(items);
    focusItem_ = focusItem;
}

TRadioGroup::TRadioGroup(std::string caption, std::vector<std::string> items, ControlBounds bounds, int itemIndex)
    : TWinControl(bounds), caption_(std::move(caption)), items_(std::move(items)), itemIndex_(-1) {
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
    const ControlBounds& bounds = GetBounds();
    ImGui::PushID(id);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float textHeight = ImGui::GetTextLineHeight();
    const int frameTop = bounds.top + static_cast<int>(textHeight / 2);
    // Etched group frame with the caption breaking its top edge.
    const ImU32 shadow = ImColorFromRgb(kButtonShadow), light = ImColorFromRgb(kButtonHighlight);
    const float l = static_cast<float>(bounds.left), t = static_cast<float>(frameTop);
    const float r = static_cast<float>(bounds.left + bounds.width - 2), b = static_cast<float>(bounds.top + bounds.height - 2);
    draw->AddRect(ImVec2(l + 1, t + 1), ImVec2(r + 1, b + 1), light);
    draw->AddRect(ImVec2(l, t), ImVec2(r, b), shadow);
    const ImVec2 captionSize = ImGui::CalcTextSize(caption_.c_str());
    draw->AddRectFilled(Pos(bounds.left + 6, bounds.top), Pos(bounds.left + 10 + static_cast<int>(captionSize.x), frameTop + 3),
                        ImColorFromRgb(kButtonFace));
    ImGui::SetCursorPos(Pos(bounds.left + 8, bounds.top));
    ImGui::TextUnformatted(caption_.c_str());

    if (!Enabled()) ImGui::BeginDisabled();
    const int count = static_cast<int>(items_.size());
    const float inner = static_cast<float>(bounds.height) - textHeight - 4;
    const float pitch = count > 0 ? inner / static_cast<float>(count) : 0;
    std::vector<uint32_t> ids;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
    for (int i = 0; i < count; ++i) {
        const char* label = items_[static_cast<size_t>(i)].c_str();
        const float y = static_cast<float>(bounds.top) + textHeight + 2 + pitch * static_cast<float>(i) + (pitch - textHeight - 2) / 2;
        ImGui::SetCursorPos(ImVec2(static_cast<float>(bounds.left + 8), y));
        ids.push_back(ImGui::GetID(label));
        if (ImGui::RadioButton(label, itemIndex_ == i)) itemIndex_ = i;
        DrawFocusFrame(CaptionFrame(), bounds, ids.back());
    }
    ImGui::PopStyleVar();
    if (!Enabled()) ImGui::EndDisabled();
    const uint32_t focusItem = ids.empty() ? 0 : ids[static_cast<size_t>(std::max(itemIndex_, 0))];
    SetItems(std::move(ids), focusItem);
    ImGui::PopID();
}

bool TRadioGroup::KeyDown(int key) {
    const int count = static_cast<int>(items_.size());
    if (count == 0 || static_cast<int>(ItemIds().size()) != count) return false;
    int current = FocusedItem();
    if (current < 0) current = std::max(itemIndex_, 0);
    int next;
    switch (key) {
        case VK_LEFT:
        case VK_UP: next = (current + count - 1) % count; break;
        case VK_RIGHT:
        case VK_DOWN: next = (current + 1) % count; break;
        case VK_SPACE: SetItemIndex(current); return true;
        default: return false;
    }
    SetItemIndex(next);
    FocusItem(ItemIds()[static_cast<size_t>(next)]);
    return true;
}

TScrollBar::TScrollBar(ControlBounds bounds, int min, int max, int largeChange, int position)
    : TWinControl(bounds), min_(min), max_(max), largeChange_(largeChange), position_(std::clamp(position, min, max)) {}

void TScrollBar::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    if (OnChange) OnChange();
}

int TScrollBar::TrackTravel() const { return std::max(GetBounds().width - 2 * GetBounds().height - ThumbWidth(), 0); }

int TScrollBar::ThumbLeft() const {
    if (max_ <= min_) return TrackLeft();
    const int64_t travel = TrackTravel(), range = max_ - min_;
    return TrackLeft() + static_cast<int>((travel * (position_ - min_) + range / 2) / range);
}

int TScrollBar::TrackSide(int x) const {
    if (x < ThumbLeft()) return -1;
    if (x >= ThumbLeft() + ThumbWidth()) return 1;
    return 0;
}

int TScrollBar::ClickTrack(int x) {
    const int side = TrackSide(x);
    SetPosition(position_ + side * largeChange_);
    return side;
}

void TScrollBar::DragThumbTo(int x) {
    const int travel = TrackTravel();
    if (travel == 0) return;
    const double fraction = static_cast<double>(x - TrackLeft()) / travel;
    SetPosition(min_ + static_cast<int>(std::lround(fraction * (max_ - min_))));
}

bool TScrollBar::KeyDown(int key) {
    switch (key) {
        case VK_LEFT:
        case VK_UP: SetPosition(position_ - 1); return true;
        case VK_RIGHT:
        case VK_DOWN: SetPosition(position_ + 1); return true;
        case VK_PRIOR: SetPosition(position_ - largeChange_); return true;
        case VK_NEXT: SetPosition(position_ + largeChange_); return true;
        case VK_HOME: SetPosition(min_); return true;
        case VK_END: SetPosition(max_); return true;
        default: return false;
    }
}

void TScrollBar::Draw(const char* id) {
    const ControlBounds& bounds = GetBounds();
    const int h = bounds.height;
    ImGui::PushID(id);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
    // The arrow buttons repeat while held, like the scroll bar's own.
    ImGui::SetCursorPos(Pos(bounds.left, bounds.top));
    if (ImGui::ArrowButtonEx("##less", ImGuiDir_Left, Pos(h, h), ImGuiButtonFlags_Repeat)) SetPosition(position_ - 1);
    const ImGuiID lessId = ImGui::GetItemID();
    ImGui::SetCursorPos(Pos(bounds.left + bounds.width - h, bounds.top));
    if (ImGui::ArrowButtonEx("##more", ImGuiDir_Right, Pos(h, h), ImGuiButtonFlags_Repeat)) SetPosition(position_ + 1);
    const ImGuiID moreId = ImGui::GetItemID();
    ImGui::PopStyleVar();

    ImGuiWindow* window = ImGui::GetCurrentWindow();
    const ImGuiID trackId = window->GetID("##track");
    const ImRect track(Pos(TrackLeft(), bounds.top), Pos(bounds.left + bounds.width - h, bounds.top + h));
    ImGui::SetCursorPos(track.Min);
    ImGui::ItemSize(track.GetSize());
    if (ImGui::ItemAdd(track, trackId)) {
        bool hovered = false, held = false;
        const bool pressed = ImGui::ButtonBehavior(track, trackId, &hovered, &held,
                                                   ImGuiButtonFlags_PressedOnClick | ImGuiButtonFlags_Repeat);
        const ImGuiIO& io = ImGui::GetIO();
        const int mouseX = static_cast<int>(std::floor(io.MousePos.x));
        if (pressed && ImGui::IsMouseClicked(ImGuiMouseButton_Left, false)) {
            // A click beside the thumb pages towards it; a click on the thumb starts a drag.
            grabOffset_ = io.MousePos.x - static_cast<float>(ThumbLeft());
            pageDirection_ = ClickTrack(mouseX);
            dragging_ = pageDirection_ == 0;
        } else if (pressed && pageDirection_ != 0 && TrackSide(mouseX) == pageDirection_) {
            // Held beside the thumb: page again until the thumb reaches the pointer.
            SetPosition(position_ + pageDirection_ * largeChange_);
        }
        if (held && dragging_) DragThumbTo(static_cast<int>(std::lround(io.MousePos.x - grabOffset_)));
        if (!held) dragging_ = false;
        if (hovered && io.MouseWheel != 0) SetPosition(position_ + (io.MouseWheel > 0 ? largeChange_ : -largeChange_));
    }
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(track.Min, track.Max, IM_COL32(238, 238, 238, 255));
    const int thumbLeft = ThumbLeft();
    draw->AddRectFilled(Pos(thumbLeft, bounds.top), Pos(thumbLeft + ThumbWidth(), bounds.top + h), ImColorFromRgb(kButtonFace));
    DrawBevel(thumbLeft, bounds.top, ThumbWidth(), h, true);
    DrawFocusFrame(track, bounds, trackId);
    SetItems({trackId, lessId, moreId}, trackId);
    ImGui::PopID();
}

void TCheckBox::Draw(const char* id) {
    const ControlBounds& bounds = GetBounds();
    ImGui::PushID(id);
    ImGui::SetCursorPos(Pos(bounds.left, bounds.top));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
    const ImGuiID itemId = ImGui::GetID(caption_.c_str());
    ImGui::Checkbox(caption_.c_str(), &checked_);
    DrawFocusFrame(CaptionFrame(), bounds, itemId);
    ImGui::PopStyleVar();
    SetItems({itemId}, itemId);
    ImGui::PopID();
}

bool TCheckBox::KeyDown(int key) {
    if (key != VK_SPACE) return false;
    checked_ = !checked_;
    return true;
}

void TButton::Click() {
    if (OnClick) OnClick();
}

bool TButton::Draw(const char* id) {
    const ControlBounds& bounds = GetBounds();
    ImGui::PushID(id);
    ImGui::SetCursorPos(Pos(bounds.left, bounds.top));
    if (default_) ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 2.0f);
    const ImGuiID itemId = ImGui::GetID(caption_.c_str());
    const bool clicked = ImGui::Button(caption_.c_str(), Pos(bounds.width, bounds.height));
    if (default_) ImGui::PopStyleVar();
    // Inside the button's border.
    ImRect inside(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
    inside.Expand(-3);
    DrawFocusFrame(inside, bounds, itemId);
    SetItems({itemId}, itemId);
    ImGui::PopID();
    if (clicked) Click();
    return clicked;
}

bool TButton::KeyDown(int key) {
    if (key != VK_SPACE && key != VK_RETURN) return false;
    Click();
    return true;
}

namespace {

// Bold made from a regular face, as a system without the bold face makes it: every glyph drawn
// twice, one pixel apart, and one pixel wider.
float SynthesisedBoldWidth(const ImFont* font, const std::string& text) {
    float width = 0;
    for (const char* p = text.c_str(); *p != '\0';) {
        unsigned int c = 0;
        p += ImTextCharFromUtf8(&c, p, nullptr);
        width += font->GetCharAdvance(static_cast<ImWchar>(c)) + 1;
    }
    return width;
}

void DrawSynthesisedBold(const ImFont* font, ImVec2 pos, ImU32 color, const std::string& text) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float size = ImGui::GetFontSize();
    for (const char* p = text.c_str(); *p != '\0';) {
        unsigned int c = 0;
        p += ImTextCharFromUtf8(&c, p, nullptr);
        const auto glyph = static_cast<ImWchar>(c);
        font->RenderChar(draw, size, pos, color, glyph);
        font->RenderChar(draw, size, ImVec2(pos.x + 1, pos.y), color, glyph);
        pos.x += font->GetCharAdvance(glyph) + 1;
    }
}

}  // namespace

void TLabel::Draw() const {
    ImGui::PushFont(GetFormFont(font));
    const bool bold = SynthesisedBold(font);
    const float textWidth = bold ? SynthesisedBoldWidth(ImGui::GetFont(), caption) : ImGui::CalcTextSize(caption.c_str()).x;
    float x = static_cast<float>(left);
    if (alignment == TAlignment::RightJustify) x = static_cast<float>(left + width) - textWidth;
    if (alignment == TAlignment::Center) x = static_cast<float>(left) + (static_cast<float>(width) - textWidth) / 2;
    ImGui::SetCursorPos(ImVec2(x, static_cast<float>(top)));
    if (bold) {
        DrawSynthesisedBold(ImGui::GetFont(), ImGui::GetCursorScreenPos(), ImColorFromRgb(color), caption);
        ImGui::Dummy(ImVec2(textWidth, ImGui::GetTextLineHeight()));
    } else {
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(ImColorFromRgb(color)));
        ImGui::TextUnformatted(caption.c_str());
        ImGui::PopStyleColor();
    }
    ImGui::PopFont();
}

}  // namespace gui
