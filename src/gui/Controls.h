// The standard controls the forms use: their state lives here, and each draws itself with ImGui
// at its absolute position inside the form's client area.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gui {

enum class FormFont;

struct ControlBounds {
    int left = 0, top = 0, width = 0, height = 0;
};

class TRadioGroup {
public:
    TRadioGroup(std::string caption, std::vector<std::string> items, ControlBounds bounds, int itemIndex = -1);

    const std::string& Caption() const { return caption_; }
    const std::vector<std::string>& Items() const { return items_; }
    int ItemIndex() const { return itemIndex_; }
    // Below -1 becomes -1 (nothing selected); at or past the item count, the last item.
    void SetItemIndex(int index);
    // Text of the selected item; empty when nothing is selected.
    std::string SelectedText() const;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    const ControlBounds& GetBounds() const { return bounds_; }
    void Draw(const char* id);

private:
    std::string caption_;
    std::vector<std::string> items_;
    ControlBounds bounds_;
    int itemIndex_;
    bool enabled_ = true;
};

class TScrollBar {
public:
    TScrollBar(ControlBounds bounds, int min, int max, int largeChange, int position);

    int Position() const { return position_; }
    // Clamped to Min..Max; raises OnChange when the position changes.
    void SetPosition(int position);
    int Min() const { return min_; }
    int Max() const { return max_; }
    std::function<void()> OnChange;
    void Draw(const char* id);

private:
    ControlBounds bounds_;
    int min_, max_, largeChange_, position_;
};

class TCheckBox {
public:
    TCheckBox(std::string caption, ControlBounds bounds) : caption_(std::move(caption)), bounds_(bounds) {}
    bool Checked() const { return checked_; }
    void SetChecked(bool checked) { checked_ = checked; }
    void Draw(const char* id);

private:
    std::string caption_;
    ControlBounds bounds_;
    bool checked_ = false;
};

class TButton {
public:
    TButton(std::string caption, ControlBounds bounds, int modalResult = 0)
        : caption_(std::move(caption)), bounds_(bounds), modalResult_(modalResult) {}
    int ModalResult() const { return modalResult_; }
    bool Default() const { return default_; }
    void SetDefault(bool value) { default_ = value; }
    std::function<void()> OnClick;
    // Returns true when clicked (after running OnClick).
    bool Draw(const char* id);

private:
    std::string caption_;
    ControlBounds bounds_;
    int modalResult_;
    bool default_ = false;
};

enum class TAlignment { LeftJustify, RightJustify, Center };

struct TLabel {
    std::string caption;
    int left = 0, top = 0, width = 0;
    FormFont font;
    uint32_t color = 0x000000;  // 00BBGGRR
    TAlignment alignment = TAlignment::LeftJustify;
    void Draw() const;
};

// Colour 00BBGGRR to ImGui's packed colour.
uint32_t ImColorFromRgb(uint32_t color);
// The forms' grey face colour (the classic dialog grey).
constexpr uint32_t kButtonFace = 0xC8D0D4;
constexpr uint32_t kButtonShadow = 0x808080;
constexpr uint32_t kButtonHighlight = 0xFFFFFF;

// Bevelled frame like a raised or lowered panel edge.
void DrawBevel(int left, int top, int width, int height, bool raised, int thickness = 1);
// Sets the classic light look of the forms on the current ImGui context.
void ApplyFormStyle();

}  // namespace gui
