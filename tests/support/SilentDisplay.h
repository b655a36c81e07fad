// A stand-in for an X display that accepts connections and never answers, as a stuck ssh tunnel
// does: a TCP listener on 127.0.0.1 at the port of a free display number.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

class SilentDisplay {
public:
    SilentDisplay();
    ~SilentDisplay();
    SilentDisplay(const SilentDisplay&) = delete;
    SilentDisplay& operator=(const SilentDisplay&) = delete;

    bool Listening() const { return listener_ >= 0; }
    // As DISPLAY names it: "127.0.0.1:N".
    const std::string& Name() const { return name_; }
    // Waits up to `limit` for a client to connect, and keeps the connection open without a word;
    // true when one came.
    bool WaitForConnection(std::chrono::milliseconds limit);

private:
    int listener_ = -1;
    std::vector<int> connections_;
    std::string name_;
};

}  // namespace testsupport
