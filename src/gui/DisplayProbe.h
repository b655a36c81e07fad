// Connects to an X display on a thread of its own, so that a display that accepts the connection
// and never answers (a stuck ssh tunnel) cannot hold the program: SDL and Xlib would wait for its
// answer forever, deaf to signals.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gui {

class XDisplayProbe {
public:
    // Starts connecting to the X display `name` (as DISPLAY names it).
    explicit XDisplayProbe(const std::string& name);
    // Closes the probe's connection, or leaves it to the thread when no answer has come yet.
    ~XDisplayProbe();
    XDisplayProbe(const XDisplayProbe&) = delete;
    XDisplayProbe& operator=(const XDisplayProbe&) = delete;

    // Waits until the display has answered (accepted or refused the connection), `timeoutMs`
    // have passed, or `giveUp` returns true; true when it answered.
    bool Answered(uint32_t timeoutMs, const std::function<bool()>& giveUp);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace gui
