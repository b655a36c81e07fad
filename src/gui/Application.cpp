#include "gui/Application.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gui/Exception.h"
#include "gui/Form.h"

namespace gui {

Application* Application::instance_ = nullptr;

Application::Application() { instance_ = this; }

Application::~Application() {
    if (instance_ == this) instance_ = nullptr;
    if (initialized_) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

Application* Application::Instance() { return instance_; }

void Application::Initialize() {
    if (initialized_) return;
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint(SDL_HINT_VIDEO_HIGHDPI_DISABLED, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        // No display server: run on the dummy driver, drawing into memory.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
            throw Exception(Format("SDL を初期化できません: %s", SDL_GetError()));
    }
    initialized_ = true;
    const char* driver = SDL_GetCurrentVideoDriver();
    hasDisplay_ = driver != nullptr && std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "offscreen") != 0;
}

int Application::AddActivationHandler(ActivationHandler handler) {
    const int id = nextHandlerId_++;
    activationHandlers_.emplace_back(id, std::move(handler));
    return id;
}

void Application::RemoveActivationHandler(int id) {
    std::erase_if(activationHandlers_, [id](const auto& entry) { return entry.first == id; });
}

void Application::SetActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    // Copied: a handler may add or remove handlers.
    const auto handlers = activationHandlers_;
    for (const auto& entry : handlers) entry.second(active);
}

void Application::AddForm(Form* form) {
    forms_.push_back(form);
    if (mainForm_ == nullptr) mainForm_ = form;
}

void Application::RemoveForm(Form* form) {
    std::erase(forms_, form);
    if (mainForm_ == form) mainForm_ = nullptr;
}

void Application::Dispatch(const SDL_Event& event) {
    if (event.type == SDL_QUIT) {
        if (mainForm_ != nullptr) mainForm_->Close();
        else terminated_ = true;
        return;
    }
    uint32_t windowId = 0;
    switch (event.type) {
        case SDL_WINDOWEVENT: windowId = event.window.windowID; break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: windowId = event.key.windowID; break;
        case SDL_TEXTINPUT: windowId = event.text.windowID; break;
        case SDL_MOUSEMOTION: windowId = event.motion.windowID; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: windowId = event.button.windowID; break;
        case SDL_MOUSEWHEEL: windowId = event.wheel.windowID; break;
        default: break;
    }
    if (event.type == SDL_WINDOWEVENT) {
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) SetActive(true);
        // Focus moving between our own windows keeps the application active.
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST && SDL_GetKeyboardFocus() == nullptr) SetActive(false);
    }
    const auto forms = forms_;
    for (Form* form : forms) {
        if (windowId != 0 && form->WindowId() != windowId) continue;
        if (std::find(forms_.begin(), forms_.end(), form) == forms_.end()) continue;
        form->HandleEvent(event);
        if (windowId != 0) break;
    }
}

bool Application::Idle() {
    if (!onIdle_) return true;
    // Copied: the handler may replace or empty the slot while it runs.
    const IdleHandler handler = onIdle_;
    return handler();
}

bool Application::DispatchEvents() {
    SDL_Event event;
    bool any = false;
    while (!terminated_ && SDL_PollEvent(&event)) {
        any = true;
        Dispatch(event);
    }
    if (terminated_) return any;
    // By index, without a copy: this runs on every pass of the loop, and painting neither
    // adds nor removes forms.
    for (size_t i = 0; i < forms_.size(); ++i)
        if (forms_[i]->NeedsPaint()) forms_[i]->Repaint();
    return any;
}

bool Application::ProcessMessages() {
    const bool any = DispatchEvents();
    if (terminated_) return false;
    const bool idleDone = Idle();
    if (idleDone && !any && !terminated_) SDL_WaitEventTimeout(nullptr, 15);
    return !terminated_;
}

void Application::Run() {
    while (ProcessMessages()) {
        if (mainForm_ == nullptr || mainForm_->Closed()) break;
    }
}

void Application::RunModal(const std::function<bool()>& done) {
    while (!terminated_ && !done()) ProcessMessages();
}

int Application::ShowCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    if (initialized_) SDL_ShowCursor(cursorCount_ >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return cursorCount_;
}

}  // namespace gui
