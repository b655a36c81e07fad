// The application object: SDL start-up, the event loop with its one idle-handler slot,
// modal loops for dialogs and message boxes, and activation notifications from window focus.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

union SDL_Event;

namespace gui {

class Form;

class Application {
public:
    // The idle handler returns true when its idle work is done (the loop may then wait for
    // the next event) and false to be polled again at once.
    using IdleHandler = std::function<bool()>;
    using ActivationHandler = std::function<void(bool active)>;

    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The one instance while it exists (the program and most tests have exactly one).
    static Application* Instance();

    // Initialises SDL video and events. Without a display server SDL's dummy driver is used,
    // windows are drawn into memory and nothing is shown. When a display is named (DISPLAY or
    // WAYLAND_DISPLAY, and no SDL_VIDEODRIVER) but cannot be reached, the connection is tried
    // again a few times, 100 ms apart (a display server that is just resetting drops new
    // connections), and then "cannot open display" is reported on stderr.
    void Initialize();
    bool HasDisplay() const { return hasDisplay_; }
    const std::string& ExeName() const { return exeName_; }
    void SetExeName(std::string path) { exeName_ = std::move(path); }

    // The idle-handler slot: setting replaces what was there, an empty function empties it.
    void SetOnIdle(IdleHandler handler) { onIdle_ = std::move(handler); }
    bool HasIdleHandler() const { return static_cast<bool>(onIdle_); }
    // Runs once per pass of Run's loop (never inside a modal loop), whatever the timers do; an
    // empty function empties the slot.
    void SetOnLoop(std::function<void()> handler) { onLoop_ = std::move(handler); }

    // Notified when the application gains (true) or loses (false) the keyboard focus.
    // Returns an id for RemoveActivationHandler.
    int AddActivationHandler(ActivationHandler handler);
    void RemoveActivationHandler(int id);
    bool Active() const { return active_; }
    // Sets the activation state and notifies the handlers (window focus events call this;
    // tests may too).
    void SetActive(bool active);

    void AddForm(Form* form);
    void RemoveForm(Form* form);
    Form* MainForm() const { return mainForm_; }

    // Runs the loop until the main form is closed (or Terminate is called).
    void Run();
    // Processes pending events (until `stop` returns true, when given), then the idle handler
    // once; returns false once terminated. A quit request (QuitRequest) terminates.
    bool ProcessMessages(const std::function<bool()>& stop = {});
    // Processes pending events (until `stop` returns true, when given) and repaints, without the
    // idle handler: for long work that runs inside the idle handler and must keep the windows
    // answering. True when there were events.
    bool DispatchEvents(const std::function<bool()>& stop = {});
    // Runs a nested loop for the modal form `form` until `done` returns true (dialogs and message
    // boxes). Meanwhile the other forms take no input: keys, mouse buttons and close boxes of
    // their windows are ignored, and activating one of them brings the modal form to the front.
    // Without a display no input can come: the events already queued are handled, and then the
    // loop ends. Returns whether `done` became true.
    bool RunModal(Form& form, const std::function<bool()>& done);
    // The innermost modal form, or nullptr.
    Form* ModalForm() const { return modalForms_.empty() ? nullptr : modalForms_.back(); }
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }

    // Mouse pointer visibility, counted like ShowCursor.
    int ShowCursor(bool show);

private:
    void Dispatch(const SDL_Event& event);
    // True for input of a window that a modal form blocks.
    bool Blocked(const SDL_Event& event, uint32_t windowId) const;
    bool Idle();

    static Application* instance_;
    bool initialized_ = false;
    bool hasDisplay_ = false;
    bool active_ = true;
    bool terminated_ = false;
    int cursorCount_ = 0;
    std::string exeName_;
    IdleHandler onIdle_;
    std::function<void()> onLoop_;
    std::vector<std::pair<int, ActivationHandler>> activationHandlers_;
    int nextHandlerId_ = 1;
    std::vector<Form*> forms_;
    std::vector<Form*> modalForms_;
    Form* mainForm_ = nullptr;
};

// Opens `url` in the desktop's web browser; false when none could be started.
bool OpenUrl(const std::string& url);

}  // namespace gui
