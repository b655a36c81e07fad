#include "support/ChildProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

extern char** environ;

namespace testsupport {

namespace {

int ShellStatus(int status) { return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status); }

}  // namespace

Program::Program(const std::string& name, const std::vector<std::string>& args, const ChildOptions& options) {
    // Everything the child needs is made before the fork: it only redirects and runs.
    std::string path = (std::filesystem::path(GLIMSTEP_BINARY_DIR) / name).string();
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string key = entry.substr(0, entry.find('='));
        if (std::none_of(options.environment.begin(), options.environment.end(),
                         [&](const auto& change) { return change.first == key; }))
            envp.push_back(entry);
    }
    for (const auto& [variable, value] : options.environment)
        if (value) envp.push_back(variable + "=" + *value);
    std::vector<char*> argPointers, envPointers;
    for (std::string& arg : argv) argPointers.push_back(arg.data());
    for (std::string& entry : envp) envPointers.push_back(entry.data());
    argPointers.push_back(nullptr);
    envPointers.push_back(nullptr);
    const std::string folder = options.folder.string();
    const bool closed = options.closedInputOutput;
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int err = open(options.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        if (null < 0 || err < 0 || dup2(err, 2) < 0) _exit(126);
        if (closed) {
            close(0);
            close(1);
        } else if (dup2(null, 0) < 0 || dup2(null, 1) < 0) {
            _exit(126);
        }
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
        execve(path.c_str(), argPointers.data(), envPointers.data());
        _exit(127);
    }
    if (null >= 0) close(null);
    if (err >= 0) close(err);
}

Program::~Program() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int Program::Interrupt(int signal, std::chrono::steady_clock::duration& took) {
    const auto sent = std::chrono::steady_clock::now();
    kill(pid_, signal);
    const std::optional<int> status = WaitForExit(std::chrono::minutes(1));
    took = std::chrono::steady_clock::now() - sent;
    return status.value_or(-1);
}

std::optional<int> Program::WaitForExit(std::chrono::steady_clock::duration limit) {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return std::nullopt;
    pid_ = -1;
    return ShellStatus(status);
}

bool Program::Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

}  // namespace testsupport
