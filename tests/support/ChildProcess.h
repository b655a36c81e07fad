// A built program run as a child process, for end-to-end tests that need it running while they
// act: as from a terminal (SIGINT and SIGTERM at their defaults), or as an editor starts a viewer
// (in the chart's folder, with standard input and output closed).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Variables to set (a value) or remove (none) in the child's environment.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct ChildOptions {
    Environment environment;
    // Standard error goes here (truncated first).
    std::filesystem::path errFile;
    // The working folder; empty keeps the test's.
    std::filesystem::path folder;
    // Standard input and output closed instead of /dev/null.
    bool closedInputOutput = false;
};

class Program {
public:
    // `name` is a file name in the build folder.
    Program(const std::string& name, const std::vector<std::string>& args, const ChildOptions& options);
    // Kills the program when it is still running.
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return pid_ > 0; }
    // Sends `signal` and waits up to a minute for the end. The exit status as a shell shows it
    // (128 + the signal for a program that it killed), or -1 when the program had to be killed.
    int Interrupt(int signal, std::chrono::steady_clock::duration& took);
    // Waits up to `limit` for the end; its status as Interrupt gives it, none when still running.
    std::optional<int> WaitForExit(std::chrono::steady_clock::duration limit);
    bool Running();

private:
    pid_t pid_ = -1;
};

// Waits up to `limit` for `condition` to hold, looking every few milliseconds.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::steady_clock::duration limit = std::chrono::minutes(1));

}  // namespace testsupport

#include <thread>

template <typename Condition>
bool testsupport::WaitUntil(Condition condition, std::chrono::steady_clock::duration limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
