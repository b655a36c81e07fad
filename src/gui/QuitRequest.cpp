#include "gui/QuitRequest.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gui {
namespace {

// Read and written in signal handlers: lock-free, set once before the handlers are installed.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);
itimerval watchdog{};
char lateMessage[256];
size_t lateLength = 0;

// Only async-signal-safe calls: this runs in signal handlers.
[[noreturn]] void EndNow(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

extern "C" void OnQuitSignal(int signal) {
    int first = 0;
    if (!requested.compare_exchange_strong(first, signal)) EndNow(signal);
    const int saved = errno;
    setitimer(ITIMER_REAL, &watchdog, nullptr);
    errno = saved;
}

extern "C" void OnWatchdog(int) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, lateMessage, lateLength);
    EndNow(requested.load());
}

void Handle(int signal, void (*handler)(int)) {
    // A signal that the program was started with ignored (a background job of a script) stays
    // ignored, as the program's default would leave it.
    struct sigaction current {};
    if (signal != SIGALRM && sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on: the request is looked at where the work can stop.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallQuitSignals() {
    const char* grace = std::getenv("GLIMSTEP_TEST_QUIT_GRACE_MS");
    InstallQuitSignals(grace != nullptr ? static_cast<uint32_t>(std::clamp(std::atol(grace), 1L, 3600000L)) : kQuitGraceMs);
}

void InstallQuitSignals(uint32_t graceMs) {
    watchdog.it_value.tv_sec = static_cast<time_t>(graceMs / 1000);
    watchdog.it_value.tv_usec = static_cast<suseconds_t>(graceMs % 1000 * 1000);
    const int length = std::snprintf(lateMessage, sizeof lateMessage, "%s: still busy %u ms after the signal; ending at once\n",
                                     program_invocation_short_name, static_cast<unsigned>(graceMs));
    lateLength = length > 0 ? std::min(static_cast<size_t>(length), sizeof lateMessage - 1) : 0;
    Handle(SIGALRM, OnWatchdog);
    Handle(SIGINT, OnQuitSignal);
    Handle(SIGTERM, OnQuitSignal);
}

bool QuitRequested() { return requested.load(std::memory_order_relaxed) != 0; }

int QuitSignal() { return requested.load(); }

void EndBySignal(int signal) {
    std::fflush(stdout);
    std::fflush(stderr);
    EndNow(signal);
}

}  // namespace gui
