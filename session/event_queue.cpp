#include "session/event_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

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

void EventQueue::SetCapacity(std::size_t capacity) {
    const std::lock_guard lock(mutex_);
    capacity_ = capacity > 0 ? capacity : 1;
}

void EventQueue::SetInventoryRunning(bool running) {
    {
        const std::lock_guard lock(mutex_);
        inventoryRunning_ = running;
    }
    arrived_.notify_all();
}

void EventQueue::ExpectCompletion() {
    const std::lock_guard lock(mutex_);
    ++completionsExpected_;
}

void EventQueue::CompletionDelivered() {
    {
        const std::lock_guard lock(mutex_);
        if (completionsExpected_ > 0) {
            --completionsExpected_;
        }
    }
    arrived_.notify_all();
}

void EventQueue::Push(StreamEvent event) {
    {
        const std::lock_guard lock(mutex_);
        if (event.completion && completionsExpected_ > 0) {
            --completionsExpected_;
        }
        while (events_.size() >= capacity_) {
            events_.pop_front();
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        if (events_.empty()) {
            Signal();
        }
        events_.push_back(std::move(event));
    }
    arrived_.notify_one();
}

EventQueue::Taken EventQueue::Take(std::size_t most, const Taker& take,
                                   std::optional<std::chrono::milliseconds> timeout, std::size_t& taken) {
    taken = 0;
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return !events_.empty() || !MayGrow(); };
    if (!ready()) {
        if (timeout) {
            arrived_.wait_for(lock, *timeout, ready);
        } else {
            arrived_.wait(lock, ready);
        }
    }
    if (events_.empty()) {
        return MayGrow() ? Taken::kTimedOut : Taken::kEnded;
    }
    while (taken < most && !events_.empty()) {
        take(events_.front());
        events_.pop_front();
        ++taken;
    }
    if (events_.empty()) {
        Drain();
    }
    return Taken::kEvents;
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
