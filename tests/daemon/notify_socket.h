#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace zendrik::testing {

// A systemd notify socket of the test's own: a Unix datagram socket bound to `path`, for
// NOTIFY_SOCKET.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~NotifySocket() { ::close(fd_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& path() const { return path_; }

    // The next datagram, waiting up to `wait` for it; "" when none came.
    std::string Next(std::chrono::milliseconds wait = std::chrono::milliseconds{0}) {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(wait.count())) <= 0) {
            return {};
        }
        char buffer[512];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }

    // Waits for a datagram that contains `text`.
    bool WaitFor(const std::string& text, std::chrono::milliseconds deadline) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (Next(left).find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace zendrik::testing
