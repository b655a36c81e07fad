// A form is one SDL window with a renderer: caption, client size, centred, fixed border,
// key-down events (KeyPreview) and a close box. Its ImGui content is drawn by OnPaint.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct ImGuiContext;
union SDL_Event;

namespace gui {

class Application;

// Windows virtual-key codes used by the forms.
constexpr int VK_RETURN = 13;
constexpr int VK_ESCAPE = 27;
constexpr int VK_SPACE = 32;
constexpr int VK_F4 = 115;

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
    Application& application_;
    std::string caption_;
    int clientWidth_;
    int clientHeight_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    uint32_t windowId_ = 0;
    bool visible_ = false;
    bool fullScreen_ = false;
    bool closed_ = false;
    bool paintSuspended_ = false;
    bool cursorHidden_ = false;
    bool invalid_ = true;
    bool interactive_ = false;
    uint32_t lastPaint_ = 0;
};

}  // namespace gui
