// The standard controls the forms use: their state lives here, and each draws itself with ImGui
// at its absolute position inside the form's client area.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ImGuiContext;
struct ImGuiWindow;

namespace gui {

enum class FormFont;

struct ControlBounds {
    int left = 0, top = 0, width = 0, height = 0;
};

// A control that can hold the keyboard focus. The focus is Dear ImGui's navigation focus on the
// item that stands for the control, with a focus mark drawn inside the control; the form moves
// it through its controls in tab order and hands the focused control its keys (see
// Form::SetTabOrder).
class TWinControl {
public:
    explicit TWinControl(ControlBounds bounds) : bounds_(bounds) {}
    virtual ~TWinControl() = default;
    TWinControl(const TWinControl&) = delete;
    TWinControl& operator=(const TWinControl&) = delete;

    const ControlBounds& GetBounds() const { return bounds_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    // Enabled, drawn at least once and inside the client area: a control placed beyond the
    // client area can be reached neither by the mouse nor by the keyboard.
    bool CanFocus(int clientWidth, int clientHeight) const;
    // True while the navigation focus is on one of the control's items.
    bool Focused() const;
    // Puts the focus on the control and shows the focus mark. Does nothing before the control
    // has been drawn once.
    void SetFocus();
    // A key (virtual-key code) pressed while the control has the focus; true when it used it.
    virtual bool KeyDown(int key) {
        (void)key;
        return false;
    }

protected:
    // Records, while drawing, the ImGui items that make up the control and the one that takes
    // the focus.
    void SetItems(std::vector<uint32_t> items, uint32_t focusItem);
    const std::vector<uint32_t>& ItemIds() const { return itemIds_; }
    // The index in ItemIds() of the item that has the focus, or -1.
    int FocusedItem() const;
    void FocusItem(uint32_t id);

private:
    ControlBounds bounds_;
    bool enabled_ = true;
    std::vector<uint32_t> itemIds_;
    uint32_t focusItem_ = 0;
    ImGuiContext* context_ = nullptr;
    ImGuiWindow* window_ = nullptr;
};

class TRadioGroup : public TWinControl {
public:
    TRadioGroup(std::string caption, std::vector<std::string> items, ControlBounds bounds, int itemIndex = -1);

    const std::string& Caption() const { return caption_; }
    const std::vector<std::string>& Items() const { return items_; }
    int ItemIndex() const { return itemIndex_; }
    // Below -1 becomes -1 (nothing selected); at or past the item count, the last item.
    void SetItemIndex(int index);
    // Text of the selected item; empty when nothing is selected.
    std::string SelectedText() const;
    void Draw(const char* id);
    // The arrow keys select the previous or next item, wrapping around, and take the focus with
    // them; Space selects the focused item.
    bool KeyDown(int key) override;

private:
    std::string caption_;
    std::vector<std::string> items_;
    int itemIndex_;
};

class TScrollBar : public TWinControl {
public:
    TScrollBar(ControlBounds bounds, int min, int max, int largeChange, int position);

    int Position() const { return position_; }
    // Clamped to Min..Max; raises OnChange when the position changes.
    void SetPosition(int position);
    int Min() const { return min_; }
    int Max() const { return max_; }
    int LargeChange() const { return largeChange_; }
    std::function<void()> OnChange;
    void Draw(const char* id);
    // Left/Up and Right/Down move by 1, Page Up/Down by the large step, Home and End to the ends.
    bool KeyDown(int key) override;

    // The thumb's left edge and width in client coordinates, for the current position.
    int ThumbLeft() const;
    int ThumbWidth() const { return GetBounds().height; }
    // A click on the track at client x: on either side of the thumb it moves the position by the
    // large step towards the click; on the thumb it does nothing (the thumb is dragged instead).
    // Returns -1 or +1 for the side clicked, 0 for the thumb.
    int ClickTrack(int x);
    // Dragging the thumb so that its left edge is at client x.
    void DragThumbTo(int x);

private:
    int TrackLeft() const { return GetBounds().left + GetBounds().height; }
    // How far the thumb's left edge moves from Min to Max.
    int TrackTravel() const;
    // -1 left of the thumb, +1 right of it, 0 on it.
    int TrackSide(int x) const;

    int min_, max_, largeChange_, position_;
    int pageDirection_ = 0;
    bool dragging_ = false;
    float grabOffset_ = 0;
};

class TCheckBox : public TWinControl {
public:
    TCheckBox(std::string caption, ControlBounds bounds) : TWinControl(bounds), caption_(std::move(caption)) {}
    bool Checked() const { return checked_; }
    void SetChecked(bool checked) { checked_ = checked; }
    void Draw(const char* id);
    // Space ticks or clears the box.
    bool KeyDown(int key) override;

private:
    std::string caption_;
    bool checked_ = false;
};

class TButton : public TWinControl {
public:
    TButton(std::string caption, ControlBounds bounds, int modalResult = 0)
        : TWinControl(bounds), caption_(std::move(caption)), modalResult_(modalResult) {}
    int ModalResult() const { return modalResult_; }
    bool Default() const { return default_; }
    void SetDefault(bool value) { default_ = value; }
    std::function<void()> OnClick;
    // Presses the button: runs OnClick.
    void Click();
    // Returns true when clicked (after running OnClick).
    bool Draw(const char* id);
    // Space and Enter press the focused button.
    bool KeyDown(int key) override;

private:
    std::string caption_;
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
// The keyboard focus mark around the focused control: the classic selection navy.
constexpr uint32_t kFocusMark = 0x800000;

// Bevelled frame like a raised or lowered panel edge.
void DrawBevel(int left, int top, int width, int height, bool raised, int thickness = 1);
// Sets the classic light look of the forms on the current ImGui context.
void ApplyFormStyle();

}  // namespace gui
