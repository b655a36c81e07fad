// A form is one SDL window with a renderer: caption, client size, centred, fixed border,
// key-down events (KeyPreview) and a close box. Its ImGui content is drawn by OnPaint.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/VirtualKeys.h"

struct SDL_Window;
struct SDL_Renderer;
struct ImGuiContext;
union SDL_Event;

namespace gui {

class Application;
class TWinControl;

// Maps an SDL keycode to a Windows virtual-key code (0 when there is none).
int VirtualKeyFromSdl(int32_t sdlKeycode);

class Form {
public:
    Form(Application& application, std::string caption, int clientWidth, int clientHeight);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    Application& App() const { return application_; }
    SDL_Window* Window() const { return window_; }
    SDL_Renderer* Renderer() const { return renderer_; }
    uint32_t WindowId() const { return windowId_; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    void SetClientSize(int width, int height);
    void SetPosition(int left, int top);
    void Show();
    void Hide();
    bool Visible() const { return visible_; }
    // Desktop full screen on or off (the display component switches it).
    void SetFullScreen(bool fullScreen);
    bool FullScreen() const { return fullScreen_; }
    // No mouse pointer over this window (the pointer shows again over other windows).
    void SetCursorHidden(bool hidden);
    bool CursorHidden() const { return cursorHidden_; }
    // True while the window has the keyboard focus.
    bool Focused() const;

    // Closes the form; closing the application's main form ends the program.
    void Close();
    bool Closed() const { return closed_; }

    // Key-down events reach the form before any control (KeyPreview); `key` is a virtual-key code.
    std::function<void(int key)> OnKeyDown;
    // The controls that take the keyboard focus, in tab order. After OnKeyDown, Tab and
    // Shift+Tab move the focus through them (skipping those that cannot take it), the focused
    // control gets the other keys, the arrow keys that it does not use move the focus like Tab,
    // and Enter that no focused button takes presses the default button.
    void SetTabOrder(std::vector<TWinControl*> controls) { tabOrder_ = std::move(controls); }
    TWinControl* FocusedControl() const;
    // Focuses the next control after the focused one that can take the focus, wrapping around
    // (the first one when none has it); backwards for `forward` false.
    void SelectNext(bool forward);
    // Focuses the first control that can take the focus.
    void SelectFirst();
    std::function<void()> OnClose;
    // Draws the form's ImGui content; called by Repaint inside an ImGui frame.
    std::function<void()> OnPaint;

    // Redraws the ImGui content now and presents it. Does nothing while the display
    // component owns the window's picture (SetPaintSuspended).
    void Repaint();
    void SetPaintSuspended(bool suspended);
    bool PaintSuspended() const { return paintSuspended_; }
    // Asks for a repaint on the next pass of the message loop.
    void Invalidate() { invalid_ = true; }
    bool NeedsPaint() const;
    // Interactive forms (dialogs, message boxes) repaint on every pass, at most 60 times a second.
    void SetInteractive(bool interactive) { interactive_ = interactive; }

    // Called by the application for events of this window.
    void HandleEvent(const SDL_Event& event);

private:
    void ControlKey(int key, bool shift);
    // Focuses the first control that can take the focus after tab position `index` (before it
    // for `forward` false), wrapping around.
    void FocusAfter(int index, bool forward);

    Application& application_;
    std::string caption_;
    int clientWidth_;
    int clientHeight_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    void* fontTexture_ = nullptr;  // this renderer's texture of the shared font atlas
    uint32_t windowId_ = 0;
    bool visible_ = false;
    bool fullScreen_ = false;
    bool closed_ = false;
    bool paintSuspended_ = false;
    bool cursorHidden_ = false;
    bool invalid_ = true;
    bool interactive_ = false;
    uint32_t lastPaint_ = 0;
    std::vector<TWinControl*> tabOrder_;
};

}  // namespace gui
