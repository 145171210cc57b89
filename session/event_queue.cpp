#include "session/event_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace zendrik::session {
namespace {

constexpr uint64_t kSignal = 1;
constexpr std::size_t kFirstRingRoom = 64;  // a power of two, as every room after it

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
        // A completion is never dropped: someone waits for it, and the request queue's own limit
        // bounds how many there can be, so they may take the queue past its capacity.
        while (count_ >= capacity_ && DropOldest()) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        if (count_ == 0) {
            Signal();
        }
        Append(std::move(event));
    }
    arrived_.notify_one();
}

bool EventQueue::WaitForEvents(std::unique_lock<std::mutex>& lock,
                               std::optional<std::chrono::milliseconds> timeout) {
    const auto ready = [this] { return count_ > 0 || !MayGrow(); };
    if (!ready()) {
        if (timeout) {
            arrived_.wait_for(lock, *timeout, ready);
        } else {
            arrived_.wait(lock, ready);
        }
    }
    return count_ > 0;
}

void EventQueue::Append(StreamEvent event) {
    if (count_ == ring_.size()) {
        std::vector<StreamEvent> grown(std::max(kFirstRingRoom, 2 * ring_.size()));
        for (std::size_t i = 0; i < count_; ++i) {
            grown[i] = std::move(ring_[(head_ + i) & (ring_.size() - 1)]);
        }
        ring_ = std::move(grown);
        head_ = 0;
    }
    ring_[(head_ + count_) & (ring_.size() - 1)] = std::move(event);
    ++count_;
}

std::span<StreamEvent> EventQueue::OldestRun(std::size_t most) {
    const std::size_t length = std::min({most, count_, ring_.size() - head_});
    return std::span<StreamEvent>(ring_).subspan(head_, length);
}

void EventQueue::ForgetRun(std::span<StreamEvent> run) {
    for (StreamEvent& event : run) {
        Forget(event);
    }
    head_ = (head_ + run.size()) & (ring_.size() - 1);
    count_ -= run.size();
}

bool EventQueue::DropOldest() {
    const std::size_t mask = ring_.size() - 1;
    std::size_t skipped = 0;
    while (skipped < count_ && ring_[(head_ + skipped) & mask].completion) {
        ++skipped;
    }
    if (skipped == count_) {
        return false;
    }
    // The completions before it move up one place, keeping their order.
    for (std::size_t i = skipped; i > 0; --i) {
        ring_[(head_ + i) & mask] = std::move(ring_[(head_ + i - 1) & mask]);
    }
    Forget(ring_[head_]);
    head_ = (head_ + 1) & mask;
    --count_;
    return true;
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
