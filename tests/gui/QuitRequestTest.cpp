// SIGINT and SIGTERM as the program takes them, in a child process each: the request that the
// program looks at, the watchdog for a program that does not, and a second signal.
#include "gui/QuitRequest.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace {

struct Ended {
    int status = -1;  // as a shell shows it: 128 + the signal for a process killed by one
    std::string err;
};

// Runs `body` in a child with SIGINT and SIGTERM at `start` (their default, or ignored) and its
// stderr in a pipe; kills it when it has not ended within 30 s.
template <class Body>
Ended RunChild(void (*start)(int), Body body) {
    int err[2];
    if (pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(err[0]);
        dup2(err[1], 2);
        signal(SIGINT, start);
        signal(SIGTERM, start);
        body();
        _exit(0);
    }
    close(err[1]);
    Ended ended;
    char buffer[512];
    pollfd fd{err[0], POLLIN, 0};
    while (poll(&fd, 1, 30000) > 0) {
        const ssize_t got = read(err[0], buffer, sizeof buffer);
        if (got <= 0) break;
        ended.err.append(buffer, static_cast<size_t>(got));
    }
    close(err[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ended.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return ended;
}

[[noreturn]] void Busy() {
    for (;;) pause();
}

TEST(QuitRequest, AProgramThatDoesNotEndIsEndedByTheSignalAfterTheGrace) {
    for (const int signal : {SIGINT, SIGTERM}) {
        const Ended ended = RunChild(SIG_DFL, [signal] {
            gui::InstallQuitSignals(50);
            raise(signal);
            if (!gui::QuitRequested() || gui::QuitSignal() != signal) _exit(3);
            Busy();
        });
        EXPECT_EQ(ended.status, 128 + signal);
        EXPECT_NE(ended.err.find("still busy 50 ms after the signal; ending at once"), std::string::npos) << ended.err;
    }
}

TEST(QuitRequest, ASecondSignalEndsTheProgramAtOnce) {
    const Ended ended = RunChild(SIG_DFL, [] {
        gui::InstallQuitSignals(3600000);
        raise(SIGTERM);
        raise(SIGINT);
        Busy();
    });
    EXPECT_EQ(ended.status, 128 + SIGINT);
    EXPECT_EQ(ended.err, "");
}

TEST(QuitRequest, ASignalThatTheProgramWasStartedWithIgnoredStaysIgnored) {
    const Ended ended = RunChild(SIG_IGN, [] {
        gui::InstallQuitSignals(50);
        raise(SIGINT);
        raise(SIGTERM);
        _exit(gui::QuitRequested() ? 3 : 0);
    });
    EXPECT_EQ(ended.status, 0);
}

}  // namespace
