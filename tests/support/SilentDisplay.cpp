#include "support/SilentDisplay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

SilentDisplay::SilentDisplay() {
    // X display N listens on TCP port 6000 + N; numbers from 100 up leave real displays alone.
    for (int number = 100; number < 1000 && listener_ < 0; ++number) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(6000 + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(fd, 8) == 0) {
            listener_ = fd;
            name_ = "127.0.0.1:" + std::to_string(number);
        } else {
            close(fd);
        }
    }
}

SilentDisplay::~SilentDisplay() {
    for (const int fd : connections_) close(fd);
    if (listener_ >= 0) close(listener_);
}

bool SilentDisplay::WaitForConnection(std::chrono::milliseconds limit) {
    pollfd fd{listener_, POLLIN, 0};
    if (listener_ < 0 || poll(&fd, 1, static_cast<int>(limit.count())) <= 0) return false;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return false;
    connections_.push_back(connection);
    return true;
}

}  // namespace testsupport
