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

#include "support/ChildProcess.h"
#include "support/SilentDisplay.h"
#include "support/SoundFiles.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using testsupport::Environment;
using testsupport::Program;

// Far below a whole load of the charts below (a minute and more), and enough for a busy machine.
constexpr auto kBound = std::chrono::seconds(3);

// Decodes crawl (each chunk of 16384 frames takes half a second more), and the watchdog that would
// end the player shortly after a signal waits a minute: what ends it in time is its own doing.
const Environment kSlowLoad = {{"GLIMSTEP_TEST_DECODE_CHUNK_MS", "500"}, {"GLIMSTEP_TEST_QUIT_GRACE_MS", "60000"}};

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
        Program program(c.program, c.args, {kSlowLoad, dir / "err.txt", {}, false});
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
        Program program("glimstep", {}, {environment, dir / "err.txt", {}, false});
        ASSERT_TRUE(program.Started());
        ASSERT_TRUE(display.WaitForConnection(std::chrono::minutes(1)));
        SteadyClock::duration took{};
        EXPECT_EQ(program.Interrupt(signal, took), 128 + signal) << testsupport::ReadFile(dir / "err.txt");
        EXPECT_LT(took, kBound);
    }
}

}  // namespace
