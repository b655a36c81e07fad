#include "gui/Form.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include "gui/Application.h"
#include "gui/Controls.h"
#include "gui/Exception.h"
#include "gui/FormFonts.h"

namespace gui {

int VirtualKeyFromSdl(int32_t key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return 112 + (key - SDLK_F1);
    switch (key) {
        case SDLK_BACKSPACE: return 8;
        case SDLK_TAB: return VK_TAB;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_PAGEUP: return VK_PRIOR;
        case SDLK_PAGEDOWN: return VK_NEXT;
        case SDLK_END: return VK_END;
        case SDLK_HOME: return VK_HOME;
        case SDLK_LEFT: return VK_LEFT;
        case SDLK_UP: return VK_UP;
        case SDLK_RIGHT: return VK_RIGHT;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return 17;
        case SDLK_LALT:
        case SDLK_RALT: return 18;
        default: return 0;
    }
}

Form::Form(Application& application, std::string caption, int clientWidth, int clientHeight)
    : application_(application), caption_(std::move(caption)), clientWidth_(clientWidth), clientHeight_(clientHeight) {
    application_.Initialize();
    window_ = SDL_CreateWindow(caption_.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, clientWidth_,
                               std::max(clientHeight_, 1), SDL_WINDOW_HIDDEN);
    if (window_ == nullptr) throw Exception(Format("ウィンドウを作成できません: %s", SDL_GetError()));
    windowId_ = SDL_GetWindowID(window_);
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr) {
        SDL_DestroyWindow(window_);
        throw Exception(Format("ウィンドウを作成できません: %s", SDL_GetError()));
    }

    ImGuiContext* previous = ImGui::GetCurrentContext();
    imgui_ = ImGui::CreateContext(FormFontAtlas());
    ImGui::SetCurrentContext(imgui_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // ImGui keeps the keyboard focus and draws its mark; the keys themselves reach the
    // controls through ControlKey, in the form's tab order.
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    ApplyFormStyle();
    ImGui_ImplSDL2_InitForSDLRenderer(window_);
    ImGui_ImplSDLRenderer_Init(renderer_);
    ImGui::SetCurrentContext(previous);
    application_.AddForm(this);
}

Form::~Form() {
    application_.RemoveForm(this);
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImGui_ImplSDLRenderer_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(imgui_);
    ImGui::SetCurrentContext(previous == imgui_ ? nullptr : previous);
    SDL_DestroyRenderer(renderer_);
    SDL_DestroyWindow(window_);
}

void Form::SetCaption(const std::string& caption) {
    caption_ = caption;
    SDL_SetWindowTitle(window_, caption_.c_str());
}

void Form::SetClientSize(int width, int height) {
    clientWidth_ = std::max(width, 0);
    clientHeight_ = std::max(height, 0);
    // SDL windows cannot have a zero-sized client area; one pixel is as close as it gets.
    SDL_SetWindowSize(window_, std::max(clientWidth_, 1), std::max(clientHeight_, 1));
    Invalidate();
}

void Form::SetPosition(int left, int top) { SDL_SetWindowPosition(window_, left, top); }

void Form::Show() {
    SDL_ShowWindow(window_);
    visible_ = true;
    Invalidate();
}

void Form::Hide() {
    SDL_HideWindow(window_);
    visible_ = false;
}

void Form::SetFullScreen(bool fullScreen) {
    if (fullScreen_ == fullScreen) return;
    fullScreen_ = fullScreen;
    if (!fullScreen) {
        SDL_SetWindowFullscreen(window_, 0);
        SDL_SetWindowBordered(window_, SDL_TRUE);
        SDL_SetWindowSize(window_, std::max(clientWidth_, 1), std::max(clientHeight_, 1));
        SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        return;
    }
    // Full screen is a request to the window manager, and SDL takes the window to cover the
    // display from then on. Where no window manager answers (a bare X server, a kiosk) the
    // window would keep its size: so it is first made borderless and moved and sized over the
    // display itself, which the display server does on its own; the request then does the rest.
    SDL_Rect display;
    if (SDL_GetDisplayBounds(std::max(SDL_GetWindowDisplayIndex(window_), 0), &display) == 0) {
        SDL_SetWindowBordered(window_, SDL_FALSE);
        SDL_SetWindowPosition(window_, display.x, display.y);
        SDL_SetWindowSize(window_, display.w, display.h);
    }
    SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
}

bool Form::Focused() const {
    if (!application_.HasDisplay()) return application_.Active();
    return (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

namespace {

SDL_Cursor* BlankCursor() {
    static SDL_Cursor* blank = [] {
        static const uint8_t bits[1] = {0};
        return SDL_CreateCursor(bits, bits, 1, 1, 0, 0);
    }();
    return blank;
}

void ApplyCursor(bool hidden) {
    if (hidden && BlankCursor() != nullptr) SDL_SetCursor(BlankCursor());
    else SDL_SetCursor(SDL_GetDefaultCursor());
}

}  // namespace

void Form::SetCursorHidden(bool hidden) {
    cursorHidden_ = hidden;
    if (SDL_GetMouseFocus() == window_) ApplyCursor(hidden);
}

void Form::SetPaintSuspended(bool suspended) {
    paintSuspended_ = suspended;
    if (!suspended) Invalidate();
}

bool Form::NeedsPaint() const {
    if (!visible_ || paintSuspended_ || closed_) return false;
    if (invalid_) return true;
    return interactive_ && SDL_GetTicks() - lastPaint_ >= 16;
}

void Form::Close() {
    if (closed_) return;
    closed_ = true;
    if (OnClose) OnClose();
    Hide();
    if (application_.MainForm() == this) application_.Terminate();
}

void Form::Repaint() {
    if (paintSuspended_ || closed_) return;
    invalid_ = false;
    lastPaint_ = SDL_GetTicks();
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    // Each renderer has its own texture of the shared font atlas, made at its first frame.
    ImFontAtlas* fonts = ImGui::GetIO().Fonts;
    fonts->SetTexID(fontTexture_);
    ImGui_ImplSDLRenderer_NewFrame();
    if (fontTexture_ == nullptr) {
        fontTexture_ = fonts->TexID;
        ReleaseFormFontSources();
    }
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    if (OnPaint) OnPaint();
    ImGui::Render();
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
    SDL_RenderPresent(renderer_);
    ImGui::SetCurrentContext(previous);
}

TWinControl* Form::FocusedControl() const {
    for (TWinControl* control : tabOrder_)
        if (control->Focused()) return control;
    return nullptr;
}

void Form::SelectNext(bool forward) {
    const int count = static_cast<int>(tabOrder_.size());
    const TWinControl* focused = FocusedControl();
    int current = -1;
    for (int i = 0; i < count; ++i)
        if (tabOrder_[static_cast<size_t>(i)] == focused) current = i;
    if (current < 0) current = forward ? count - 1 : 0;
    FocusAfter(current, forward);
}

void Form::SelectFirst() { FocusAfter(static_cast<int>(tabOrder_.size()) - 1, true); }

void Form::FocusAfter(int index, bool forward) {
    const int count = static_cast<int>(tabOrder_.size());
    for (int step = 1; step <= count; ++step) {
        const int i = ((forward ? index + step : index - step) % count + count) % count;
        TWinControl* control = tabOrder_[static_cast<size_t>(i)];
        if (control->CanFocus(clientWidth_, clientHeight_)) {
            control->SetFocus();
            return;
        }
    }
}

void Form::ControlKey(int key, bool shift) {
    if (tabOrder_.empty()) return;
    if (key == VK_TAB) {
        SelectNext(!shift);
        return;
    }
    TWinControl* focused = FocusedControl();
    if (focused != nullptr && focused->KeyDown(key)) return;
    if (key == VK_RETURN) {
        for (TWinControl* control : tabOrder_)
            if (auto* button = dynamic_cast<TButton*>(control); button != nullptr && button->Default()) {
                button->Click();
                return;
            }
    }
    if (key == VK_LEFT || key == VK_UP) SelectNext(false);
    if (key == VK_RIGHT || key == VK_DOWN) SelectNext(true);
}

void Form::HandleEvent(const SDL_Event& event) {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    // Keys go to the form and its controls, not to ImGui's own navigation, so that every press
    // counts once however many arrive between two frames.
    if (event.type != SDL_KEYDOWN && event.type != SDL_KEYUP && event.type != SDL_TEXTINPUT)
        ImGui_ImplSDL2_ProcessEvent(&event);
    ImGui::SetCurrentContext(previous);

    if (event.type == SDL_WINDOWEVENT) {
        switch (event.window.event) {
            case SDL_WINDOWEVENT_CLOSE: Close(); break;
            case SDL_WINDOWEVENT_ENTER: ApplyCursor(cursorHidden_); break;
            case SDL_WINDOWEVENT_EXPOSED:
            case SDL_WINDOWEVENT_SHOWN:
            case SDL_WINDOWEVENT_RESIZED: Invalidate(); break;
            default: break;
        }
    } else if (event.type == SDL_KEYDOWN) {
        const int key = VirtualKeyFromSdl(event.key.keysym.sym);
        if (key != 0 && OnKeyDown) OnKeyDown(key);
        if (key != 0 && !closed_) ControlKey(key, (event.key.keysym.mod & KMOD_SHIFT) != 0);
        Invalidate();
    } else if (event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP || event.type == SDL_MOUSEMOTION) {
        Invalidate();
    }
}

}  // namespace gui
