#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "exports/zendrik_session.h"
#include "link/unique_fd.h"

namespace zendrik::session {

// The events of a reader waiting for zendrik_next_event: bounded, oldest dropped and counted when
// full, and an eventfd that poll() sees readable exactly while events wait, so that a program can
// watch many readers and its other descriptors in one loop.
class EventQueue {
  public:
    // Throws std::system_error when the eventfd cannot be made.
    EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    int fd() const { return eventFd_.get(); }

    // A run of events begins (`capacity` at least 1) or ends; the end wakes every waiting Take.
    // Events already queued stay.
    void Open(std::size_t capacity);
    void Close();

    void Push(const zendrik_event& event);

    enum class Taken { kEvent, kTimedOut, kEnded };
    // The oldest event; waits until `deadline` (nothing: for ever) while the queue is empty and a
    // run is open. kEnded when the queue is empty and no run is open.
    Taken Take(zendrik_event& event, std::optional<std::chrono::steady_clock::time_point> deadline);

    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    void Signal();
    void Drain();

    UniqueFd eventFd_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<zendrik_event> events_;
    std::size_t capacity_ = 1;
    bool open_ = false;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace zendrik::session
