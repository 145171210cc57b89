#pragma once

#include <unistd.h>

#include <utility>

namespace zendrik {

// Owns one file descriptor (port, socket, hidraw node) and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held (if any) and takes `fd`. Returns close()'s result, 0 when none was held.
    int reset(int fd = -1) {
        const int previous = std::exchange(fd_, fd);
        return previous >= 0 ? ::close(previous) : 0;
    }

private:
    int fd_ = -1;
};

}  // namespace zendrik
