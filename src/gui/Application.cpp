#include "gui/Application.h"

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "gui/DisplayProbe.h"
#include "gui/Exception.h"
#include "gui/Form.h"
#include "gui/QuitRequest.h"

namespace gui {

Application* Application::instance_ = nullptr;

Application::Application() { instance_ = this; }

Application::~Application() {
    if (instance_ == this) instance_ = nullptr;
    if (initialized_) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

Application* Application::Instance() { return instance_; }

namespace {

constexpr int kDisplayAttempts = 5;
constexpr uint32_t kDisplayRetryMs = 100;
// How long an X display may take to answer a connection (it answers in milliseconds, also over
// a slow ssh link); one that does not answer counts as unreachable.
constexpr uint32_t kDisplayAnswerMs = 5000;

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// The display that the environment names for SDL to pick a driver for, or nullptr.
const char* NamedDisplay() {
    if (Environment("SDL_VIDEODRIVER") != nullptr) return nullptr;
    if (const char* x11 = Environment("DISPLAY")) return x11;
    return Environment("WAYLAND_DISPLAY");
}

bool Headless(const char* driver) {
    return driver == nullptr || std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0;
}

// Test seam: GLIMSTEP_TEST_DISPLAY_DROPS=n makes the first n connections to a named display come
// up on SDL's headless offscreen driver, as when the display server drops them.
int SimulatedDrops() {
    const char* value = Environment("GLIMSTEP_TEST_DISPLAY_DROPS");
    return value != nullptr ? std::clamp(std::atoi(value), 0, kDisplayAttempts) : 0;
}

// libwayland finds a compositor through WAYLAND_SOCKET, an absolute WAYLAND_DISPLAY or a socket
// in XDG_RUNTIME_DIR; without any of them it cannot connect.
bool WaylandReachable() {
    const char* name = Environment("WAYLAND_DISPLAY");
    return Environment("WAYLAND_SOCKET") != nullptr || (name != nullptr && name[0] == '/') ||
           Environment("XDG_RUNTIME_DIR") != nullptr;
}

bool InitVideoAndEvents() { return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0; }

// Starts SDL's video on the first driver that comes up, in SDL's order; but Wayland is left out
// where it cannot be reached, because libwayland then reports each attempt on stderr ("error:
// XDG_RUNTIME_DIR is invalid or not set in the environment.") before it fails.
bool StartVideo() {
    if (Environment("SDL_VIDEODRIVER") != nullptr || WaylandReachable()) return InitVideoAndEvents();
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char* driver = SDL_GetVideoDriver(i);
        if (std::strcmp(driver, "wayland") == 0) continue;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
        const bool up = InitVideoAndEvents();
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
        if (up) return true;
    }
    return false;
}

void ReportNoDisplay(const char* display) {
    std::fprintf(stderr, "%s: cannot open display \"%s\"; going on without a display\n", program_invocation_short_name,
                 display);
    std::fflush(stderr);
}

}  // namespace

void Application::Initialize() {
    if (initialized_) return;
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint(SDL_HINT_VIDEO_HIGHDPI_DISABLED, "1");
    // SIGINT and SIGTERM stay the program's (QuitRequest): SDL would turn them into a quit event
    // that nothing reads while the program is busy.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const char* display = NamedDisplay();
    // An X display is first asked whether it answers at all; the probe's connection stays open
    // until SDL has its own, so that a server does not reset in between for want of clients.
    std::optional<XDisplayProbe> probe;
    bool silent = false;
    // (NamedDisplay names DISPLAY whenever it is set.)
    if (display != nullptr && Environment("DISPLAY") != nullptr) {
        probe.emplace(display);
        silent = !probe->Answered(kDisplayAnswerMs, QuitRequested);
        if (silent && !QuitRequested()) ReportNoDisplay(display);
    }
    int drops = display != nullptr ? SimulatedDrops() : 0;
    bool up = false;
    for (int attempt = 1; !silent; ++attempt) {
        if (drops > 0) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
            up = InitVideoAndEvents();
            --drops;
            SDL_ResetHint(SDL_HINT_VIDEODRIVER);
        } else {
            up = StartVideo();
        }
        // SDL falls back on its own to a headless driver when the display drops the connection.
        if (display == nullptr || (up && !Headless(SDL_GetCurrentVideoDriver()))) break;
        if (up) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        up = false;
        if (attempt == kDisplayAttempts) {
            ReportNoDisplay(display);
            break;
        }
        SDL_Delay(kDisplayRetryMs);
    }
    if (!up) {
        // No display server: run on the dummy driver, drawing into memory.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
        if (!InitVideoAndEvents()) throw Exception(Format("SDL を初期化できません: %s", SDL_GetError()));
    }
    initialized_ = true;
    hasDisplay_ = !Headless(SDL_GetCurrentVideoDriver());
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

bool Application::Blocked(const SDL_Event& event, uint32_t windowId) const {
    const Form* modal = ModalForm();
    if (modal == nullptr || windowId == modal->WindowId()) return false;
    switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
        case SDL_TEXTINPUT:
        case SDL_TEXTEDITING:
        case SDL_MOUSEMOTION:
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
        case SDL_MOUSEWHEEL: return true;
        case SDL_WINDOWEVENT: return event.window.event == SDL_WINDOWEVENT_CLOSE;
        default: return false;
    }
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
        case SDL_TEXTEDITING: windowId = event.edit.windowID; break;
        case SDL_MOUSEMOTION: windowId = event.motion.windowID; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: windowId = event.button.windowID; break;
        case SDL_MOUSEWHEEL: windowId = event.wheel.windowID; break;
        default: break;
    }
    if (Blocked(event, windowId)) {
        // A click on a window behind a modal form brings the modal form forward instead.
        if (event.type == SDL_MOUSEBUTTONDOWN && hasDisplay_) SDL_RaiseWindow(ModalForm()->Window());
        return;
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

bool Application::DispatchEvents(const std::function<bool()>& stop) {
    // A signal's quit request ends every loop, modal ones too.
    if (QuitRequested()) terminated_ = true;
    SDL_Event event;
    bool any = false;
    while (!terminated_ && !(stop && stop()) && SDL_PollEvent(&event)) {
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

bool Application::ProcessMessages(const std::function<bool()>& stop) {
    const bool any = DispatchEvents(stop);
    if (terminated_) return false;
    const bool idleDone = Idle();
    if (idleDone && !any && !terminated_) SDL_WaitEventTimeout(nullptr, 15);
    return !terminated_;
}

void Application::Run() {
    while (ProcessMessages()) {
        if (mainForm_ == nullptr || mainForm_->Closed()) break;
        if (onLoop_) onLoop_();
    }
}

namespace {

bool EventsQueued() {
    SDL_PumpEvents();
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0;
}

}  // namespace

bool Application::RunModal(Form& form, const std::function<bool()>& done) {
    modalForms_.push_back(&form);
    struct Leave {
        std::vector<Form*>& forms;
        ~Leave() { forms.pop_back(); }
    } leave{modalForms_};
    while (!terminated_ && !done()) {
        // Without a display nothing but what is queued already can ever arrive.
        if (!hasDisplay_ && !EventsQueued()) break;
        ProcessMessages(done);
    }
    return done();
}

int Application::ShowCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    if (initialized_) SDL_ShowCursor(cursorCount_ >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return cursorCount_;
}

bool OpenUrl(const std::string& url) { return SDL_OpenURL(url.c_str()) == 0; }

}  // namespace gui
