#include "sim/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace zendrik::sim {
namespace {

constexpr int kNoWait = 0;

// Waits for the descriptor to become readable; true when it did within `timeoutMs`.
bool Readable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

void WakeEvent::Signal() {
    const uint64_t one = 1;
    // Cannot fail short of a counter overflow, which would leave it readable anyway.
    [[maybe_unused]] const ssize_t written = ::write(fd_.get(), &one, sizeof(one));
}

bool WakeEvent::signalled() const {
    return Readable(fd_.get(), kNoWait);
}

bool WakeEvent::WaitFor(std::chrono::milliseconds duration) const {
    return !Readable(fd_.get(), static_cast<int>(duration.count()));
}

}  // namespace zendrik::sim
