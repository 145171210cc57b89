#include "session/event_queue.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <system_error>

namespace zendrik::session {
namespace {

constexpr uint64_t kSignal = 1;

}  // namespace

EventQueue::EventQueue() : eventFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!eventFd_) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

void EventQueue::Open(std::size_t capacity) {
    const std::lock_guard lock(mutex_);
    capacity_ = capacity > 0 ? capacity : 1;
    open_ = true;
}

void EventQueue::Close() {
    {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    arrived_.notify_all();
}

void EventQueue::Push(const zendrik_event& event) {
    {
        const std::lock_guard lock(mutex_);
        while (events_.size() >= capacity_) {
            events_.pop_front();
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        if (events_.empty()) {
            Signal();
        }
        events_.push_back(event);
    }
    arrived_.notify_one();
}

EventQueue::Taken EventQueue::Take(zendrik_event& event,
                                   std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return !events_.empty() || !open_; };
    if (deadline) {
        arrived_.wait_until(lock, *deadline, ready);
    } else {
        arrived_.wait(lock, ready);
    }
    if (events_.empty()) {
        return open_ ? Taken::kTimedOut : Taken::kEnded;
    }
    event = events_.front();
    events_.pop_front();
    if (events_.empty()) {
        Drain();
    }
    return Taken::kEvent;
}

// The eventfd's counter is non-zero exactly while events wait: raised by the first, cleared by
// taking the last. A write can only fail if the counter would overflow, which one raise cannot do.
void EventQueue::Signal() {
    const uint64_t one = kSignal;
    [[maybe_unused]] const ssize_t written = ::write(eventFd_.get(), &one, sizeof one);
}

void EventQueue::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(eventFd_.get(), &count, sizeof count);
}

}  // namespace zendrik::session
