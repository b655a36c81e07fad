// SIGINT and SIGTERM ask the program to quit. The event loop and long work look at the request
// and end the program cleanly, killed by that signal in the end as without a handler (exit status
// 130 or 143 in a shell). Work that cannot look does not hold it up: a watchdog ends the process
// at once, without saving anything, when it has not ended a moment after the signal; so does a
// second signal.
#pragma once

#include <cstdint>

namespace gui {

// How long the program may take to end by itself after the first signal.
constexpr uint32_t kQuitGraceMs = 500;

// Installs the handlers of SIGINT and SIGTERM, unless the program was started with them ignored
// (call it before SDL starts, which then keeps its own handlers out). Test seam:
// GLIMSTEP_TEST_QUIT_GRACE_MS replaces kQuitGraceMs, so that a test can tell whether the program
// ended by itself.
void InstallQuitSignals();
void InstallQuitSignals(uint32_t graceMs);
// True once a signal has asked the program to quit.
bool QuitRequested();
// The signal that asked the program to quit, or 0.
int QuitSignal();
// Ends the process as `signal` does by default, after flushing the standard streams.
[[noreturn]] void EndBySignal(int signal);

}  // namespace gui
