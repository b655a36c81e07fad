// SIGINT and SIGTERM end the player and the tools within moments, with the signal's exit status,
// also in the middle of loading long sounds and while the display named never answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/SilentDisplay.h"
#include "support/SoundFiles.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Far below a whole load of the charts below (a minute and more), and enough for a busy machine.
constexpr auto kBound = std::chrono::seconds(3);

// Decodes crawl (each chunk of 16384 frames takes half a second more), and the watchdog that would
// end the player shortly after a signal waits a minute: what ends it in time is its own doing.
const Environment kSlowLoad = {{"GLIMSTEP_TEST_DECODE_CHUNK_MS", "500"}, {"GLIMSTEP_TEST_QUIT_GRACE_MS", "60000"}};

// A built program started as from a terminal: SIGINT and SIGTERM at their defaults.
class Program {
public:
    Program(const std::string& name, const std::vector<std::string>& args, const Environment& environment,
            const fs::path& errFile) {
        // Everything the child needs is made before the fork: it only redirects and runs.
        std::string path = (fs::path(GLIMSTEP_BINARY_DIR) / name).string();
        std::vector<std::string> argv{path};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> envp;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string entry = *variable;
            const std::string key = entry.substr(0, entry.find('='));
            if (std::none_of(environment.begin(), environment.end(), [&](const auto& change) { return change.first == key; }))
                envp.push_back(entry);
        }
        for (const auto& [variable, value] : environment)
            if (value) envp.push_back(variable + "=" + *value);
        std::vector<char*> argPointers, envPointers;
        for (std::string& arg : argv) argPointers.push_back(arg.data());
        for (std::string& entry : envp) envPointers.push_back(entry.data());
        argPointers.push_back(nullptr);
        envPointers.push_back(nullptr);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = fork();
        if (pid_ == 0) {
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            if (null < 0 || err < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0) _exit(126);
            execve(path.c_str(), argPointers.data(), envPointers.data());
            _exit(127);
        }
        if (null >= 0) close(null);
        if (err >= 0) close(err);
    }
    ~Program() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return pid_ > 0; }

    // Sends `signal` and waits up to a minute for the end. The exit status as a shell shows it
    // (128 + the signal for a program that it killed), or -1 when the program had to be killed.
    int Interrupt(int signal, SteadyClock::duration& took) {
        const auto sent = SteadyClock::now();
        kill(pid_, signal);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (SteadyClock::now() - sent > std::chrono::minutes(1)) return -1;
            usleep(2000);
        }
        took = SteadyClock::now() - sent;
        pid_ = -1;
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }

private:
    pid_t pid_ = -1;
};

// Watches a folder for files that a program has read to the end and closed.
class ReadWatch {
public:
    explicit ReadWatch(const fs::path& folder) : fd_(inotify_init1(IN_CLOEXEC)) {
        if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_CLOSE_NOWRITE);
    }
    ~ReadWatch() {
        if (fd_ >= 0) close(fd_);
    }
    ReadWatch(const ReadWatch&) = delete;
    ReadWatch& operator=(const ReadWatch&) = delete;

    // Waits up to a minute until the file `name` has been read.
    bool WaitFor(const std::string& name) {
        alignas(inotify_event) char buffer[4096];
        const auto limit = SteadyClock::now() + std::chrono::minutes(1);
        pollfd fd{fd_, POLLIN, 0};
        while (fd_ >= 0 && SteadyClock::now() < limit && poll(&fd, 1, 1000) >= 0) {
            const ssize_t got = (fd.revents & POLLIN) != 0 ? read(fd_, buffer, sizeof buffer) : 0;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && name == event->name) return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return false;
    }

private:
    int fd_;
};

TEST(Quit, SignalsEndThePlayerAndTheToolsInTheMiddleOfALoad) {
    testsupport::TempDir dir;
    // Eight slots of a minute-long sound: the load would take a minute on two threads.
    testsupport::WriteSoundFile(dir / "long.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1,
                                testsupport::Tone(8000, 1, 440, 60000));
    std::string chart = "#BPM 120\n";
    for (int slot = 1; slot <= 8; ++slot) chart += "#WAV0" + std::to_string(slot) + " long.flac\n";
    testsupport::WriteFile(dir / "long.bms", chart + "#00111:0102030405060708\n");
    const std::string bms = (dir / "long.bms").string();
    const std::string out = (dir / "out.wav").string();
    struct Case {
        std::string program;
        std::vector<std::string> args;
        int signal;
    };
    for (const Case& c : {Case{"glimstep", {bms}, SIGINT}, Case{"glimstep", {bms}, SIGTERM},
                          Case{"glimstep-info", {bms}, SIGINT}, Case{"glimstep-info", {bms}, SIGTERM},
                          Case{"glimstep-render", {bms, "-o", out}, SIGINT},
                          Case{"glimstep-render", {bms, "-o", out}, SIGTERM}}) {
        SCOPED_TRACE(c.program + " " + strsignal(c.signal));
        ReadWatch watch(dir.Path());
        Program program(c.program, c.args, kSlowLoad, dir / "err.txt");
        ASSERT_TRUE(program.Started());
        ASSERT_TRUE(watch.WaitFor("long.flac")) << "the load did not begin: " << testsupport::ReadFile(dir / "err.txt");
        SteadyClock::duration took{};
        EXPECT_EQ(program.Interrupt(c.signal, took), 128 + c.signal) << testsupport::ReadFile(dir / "err.txt");
        EXPECT_LT(took, kBound);
        // glimstep-render leaves no part of its output behind.
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with("out.wav")) << entry.path();
    }
}

// A display that accepts the connection and never answers (a stuck ssh tunnel) does not hold the
// player while it starts.
TEST(Quit, SignalsEndThePlayerWhileTheDisplayNeverAnswers) {
    testsupport::TempDir dir;
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        testsupport::SilentDisplay display;
        ASSERT_TRUE(display.Listening());
        Environment environment = kSlowLoad;
        environment.insert(environment.end(), {{"DISPLAY", display.Name()}, {"SDL_VIDEODRIVER", std::nullopt},
                                               {"WAYLAND_DISPLAY", std::nullopt}});
        Program program("glimstep", {}, environment, dir / "err.txt");
        ASSERT_TRUE(program.Started());
        ASSERT_TRUE(display.WaitForConnection(std::chrono::minutes(1)));
        SteadyClock::duration took{};
        EXPECT_EQ(program.Interrupt(signal, took), 128 + signal) << testsupport::ReadFile(dir / "err.txt");
        EXPECT_LT(took, kBound);
    }
}

}  // namespace
