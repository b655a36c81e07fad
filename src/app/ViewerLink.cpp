#include "app/ViewerLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gui/Convert.h"

namespace app {

namespace {

constexpr const char* kGreeting = "glimstep-viewer 1";
constexpr const char* kSocketName = "glimstep-viewer.sock";
// How long one client may take to send its request, and how many are served in one poll.
constexpr int kClientBudgetMs = 250;
constexpr int kClientsPerPoll = 8;
// What the viewer answers to a request it takes. A client that has given up waiting for it can no
// longer be answered, and its request is dropped: it plays the chart in a window of its own.
constexpr std::string_view kTaken = "ok\n";

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The user id of the process at the other end of `fd`, none when it cannot be told.
std::optional<uid_t> PeerUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

// A folder of the user's own that no one else may enter or write.
bool PrivateFolder(const std::string& path, std::string& error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        error = "cannot use the folder " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    if (info.st_uid != geteuid()) {
        error = "the folder " + path + " belongs to another user";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = "the folder " + path + " is open to other users (its mode must be 0700)";
        return false;
    }
    return true;
}

int ConnectTo(const std::string& path, int& connectError) {
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        connectError = ENAMETOOLONG;
        return -1;
    }
    // Non-blocking: a viewer that has stopped taking connections fills its queue, and then a
    // connect fails at once with EAGAIN instead of waiting for it.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        connectError = errno;
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        connectError = errno;
        close(fd);
        return -1;
    }
    return fd;
}

using Deadline = std::chrono::steady_clock::time_point;

// Waits until `fd` is ready for `events` or `deadline` has passed; false then.
bool WaitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd wait{fd, events, 0};
        const int ready = poll(&wait, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// Sends all of `bytes` on the non-blocking `fd` before `deadline`.
bool WriteAll(int fd, std::string_view bytes, Deadline deadline) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline)) continue;
        return false;
    }
    return true;
}

// Whether the viewer answers on `fd` that it took the request, before `deadline`.
bool ReadTaken(int fd, Deadline deadline) {
    std::string answer;
    char buffer[16];
    while (answer.size() < kTaken.size()) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLIN, deadline)) continue;
        return false;
    }
    return answer == kTaken;
}

}  // namespace

std::string EncodeViewerRequest(const ViewerRequest& request) {
    std::string message = std::string(kGreeting) + "\n";
    if (request.What == ViewerRequest::Kind::Stop) return message + "stop\nend\n";
    message += "play\nmeasure " + std::to_string(request.StartMeasure) + "\nextended " +
               (request.Extended ? "1" : "0") + "\nchart " + request.Chart + "\nend\n";
    return message;
}

std::optional<ViewerRequest> DecodeViewerRequest(std::string_view message, std::string& error) {
    const auto fail = [&error](std::string why) {
        error = std::move(why);
        return std::nullopt;
    };
    if (message.size() > kMaxViewerRequestBytes) return fail("a request longer than " + std::to_string(kMaxViewerRequestBytes) + " bytes");
    if (message.find('\0') != std::string_view::npos) return fail("a request with a NUL byte");
    std::vector<std::string_view> lines;
    while (!message.empty()) {
        const size_t end = message.find('\n');
        if (end == std::string_view::npos) return fail("a request cut off in the middle");
        lines.push_back(message.substr(0, end));
        message.remove_prefix(end + 1);
    }
    if (lines.empty() || lines.front() != kGreeting) return fail("not a request of this viewer");
    if (lines.back() != "end") return fail("a request cut off in the middle");
    ViewerRequest request;
    if (lines.size() == 3 && lines[1] == "stop") {
        request.What = ViewerRequest::Kind::Stop;
        return request;
    }
    if (lines.size() != 6 || lines[1] != "play") return fail("a request that is neither play nor stop");
    uint64_t measure = 0;
    if (!lines[2].starts_with("measure ") || lines[2].find_first_not_of("0123456789", 8) != std::string_view::npos ||
        !gui::TryStrToUInt64(lines[2].substr(8), measure) || measure > 999)
        return fail("a request with no measure from 0 to 999");
    if (lines[3] != "extended 0" && lines[3] != "extended 1") return fail("a request with no reading");
    if (!lines[4].starts_with("chart /")) return fail("a request with no absolute chart path");
    request.StartMeasure = static_cast<int32_t>(measure);
    request.Extended = lines[3] == "extended 1";
    request.Chart = std::string(lines[4].substr(6));
    return request;
}

std::string ViewerSocketPath(std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        struct stat info {};
        if (stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid())
            return std::string(runtime) + "/" + kSocketName;
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string folder = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    folder += "/glimstep-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make the folder " + folder + ": " + std::strerror(errno);
        return {};
    }
    if (!PrivateFolder(folder, error)) return {};
    return folder + "/" + kSocketName;
}

HandOverResult HandOver(const std::string& path, const ViewerRequest& request, std::string& error,
                        std::chrono::milliseconds patience) {
    if (request.What == ViewerRequest::Kind::Play && request.Chart.find('\n') != std::string::npos) {
        error = "cannot hand over a chart path with a line break in it";
        return HandOverResult::Failed;
    }
    int connectError = 0;
    const int fd = ConnectTo(path, connectError);
    if (fd < 0) {
        // Nothing there, or a socket that no process listens on any more.
        if (connectError == ENOENT || connectError == ECONNREFUSED) return HandOverResult::NoViewer;
        if (connectError == EAGAIN) {
            error = "the viewer at " + path + " is not answering";
            return HandOverResult::Failed;
        }
        error = "cannot reach the viewer at " + path + ": " + std::strerror(connectError);
        return HandOverResult::Failed;
    }
    const std::optional<uid_t> peer = PeerUser(fd);
    if (!peer || *peer != geteuid()) {
        close(fd);
        error = "the viewer socket " + path + " belongs to another user";
        return HandOverResult::Failed;
    }
    const std::string message = EncodeViewerRequest(request);
    if (message.size() > kMaxViewerRequestBytes) {
        close(fd);
        error = "the chart path is too long to hand over";
        return HandOverResult::Failed;
    }
    const Deadline deadline = std::chrono::steady_clock::now() + patience;
    const bool taken = WriteAll(fd, message, deadline) && ReadTaken(fd, deadline);
    close(fd);
    if (!taken) {
        error = "the viewer at " + path + " did not take the request";
        return HandOverResult::Failed;
    }
    return HandOverResult::Delivered;
}

ViewerListener::ViewerListener(int fd, std::string path, uint64_t device, uint64_t inode)
    : fd_(fd), path_(std::move(path)), device_(device), inode_(inode) {}

ViewerListener::~ViewerListener() {
    close(fd_);
    struct stat info {};
    if (lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_) unlink(path_.c_str());
}

std::unique_ptr<ViewerListener> ViewerListener::Listen(const std::string& path, ListenResult& result, std::string& error) {
    result = ListenResult::Failed;
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        error = "the socket path " + path + " is too long";
        return nullptr;
    }
    // A socket left by a viewer that ended without removing it: nobody answers on it.
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        int connectError = 0;
        const int probe = ConnectTo(path, connectError);
        // A viewer that answers, or one whose queue is full: either way, one is there.
        if (probe >= 0 || connectError == EAGAIN) {
            if (probe >= 0) close(probe);
            result = ListenResult::Busy;
            return nullptr;
        }
        if (!S_ISSOCK(info.st_mode) || connectError != ECONNREFUSED) {
            error = path + " is in the way of the viewer socket";
            return nullptr;
        }
        unlink(path.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("cannot make the viewer socket: ") + std::strerror(errno);
        return nullptr;
    }
    const mode_t oldMask = umask(077);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    umask(oldMask);
    if (bound != 0) {
        close(fd);
        // Another viewer started at the same moment and took the place.
        if (bindError == EADDRINUSE) {
            result = ListenResult::Busy;
            return nullptr;
        }
        error = "cannot listen at " + path + ": " + std::strerror(bindError);
        return nullptr;
    }
    if (listen(fd, 16) != 0 || lstat(path.c_str(), &info) != 0) {
        error = "cannot listen at " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return nullptr;
    }
    result = ListenResult::Listening;
    return std::unique_ptr<ViewerListener>(new ViewerListener(fd, path, info.st_dev, info.st_ino));
}

std::optional<ViewerRequest> ViewerListener::Poll() {
    std::optional<ViewerRequest> latest;
    for (int served = 0; served < kClientsPerPoll; ++served) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) break;
        if (std::optional<ViewerRequest> request = Serve(client)) latest = std::move(request);
        close(client);
    }
    return latest;
}

std::optional<ViewerRequest> ViewerListener::Serve(int client) {
    const std::optional<uid_t> peer = PeerUser(client);
    if (!peer || *peer != geteuid()) {
        std::fprintf(stderr, "glimstep: refused a viewer request from another user\n");
        return std::nullopt;
    }
    std::string message;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kClientBudgetMs);
    char buffer[2048];
    for (;;) {
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n > 0) {
            message.append(buffer, static_cast<size_t>(n));
            if (message.size() > kMaxViewerRequestBytes) break;
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        // A complete request need not wait for the client to close.
        if (message.ends_with("\nend\n")) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wait{client, POLLIN, 0};
        poll(&wait, 1, static_cast<int>(left.count()));
    }
    std::string error;
    std::optional<ViewerRequest> request = DecodeViewerRequest(message, error);
    if (!request) {
        std::fprintf(stderr, "glimstep: ignored a viewer request: %s\n", error.c_str());
        return std::nullopt;
    }
    if (send(client, kTaken.data(), kTaken.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(kTaken.size())) {
        std::fprintf(stderr, "glimstep: ignored a viewer request whose sender stopped waiting\n");
        return std::nullopt;
    }
    return request;
}

}  // namespace app
