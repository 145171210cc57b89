#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "link/unique_fd.h"
#include "session/events.h"

namespace zendrik::session {

// The stream of a reader waiting to be taken: bounded, oldest dropped and counted when full, and
// an eventfd that poll() sees readable exactly while events wait, so that a program can watch
// many readers and its other descriptors in one loop. It knows what may still bring events (a
// running inventory, submitted requests not yet completed), so that a wait ends when nothing can.
class EventQueue {
  public:
    static constexpr std::size_t kDefaultCapacity = 4096;

    // Throws std::system_error when the eventfd cannot be made.
    EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    int fd() const { return eventFd_.get(); }

    // Events kept before the oldest is dropped (at least 1); events already queued stay.
    void SetCapacity(std::size_t capacity);
    // An inventory delivering to the queue begins or ends; the end wakes every waiting Take.
    void SetInventoryRunning(bool running);
    // A submitted request will bring a completion; Push of that completion settles it, and so does
    // CompletionDelivered when it went elsewhere (to a callback).
    void ExpectCompletion();
    void CompletionDelivered();

    void Push(StreamEvent event);

    enum class Taken { kEvents, kTimedOut, kEnded };
    // Hands up to `most` of the oldest events to `take`, oldest first, as at most two runs that lie
    // back to back in the ring (std::span<const StreamEvent>), under the queue's lock (so `take`
    // only copies). Waits up to `timeout` (nothing: for ever) while the queue is empty and events
    // may still come. kEnded when the queue is empty and nothing can bring more.
    template <typename TakeRun>
    Taken Take(std::size_t most, TakeRun&& take, std::optional<std::chrono::milliseconds> timeout,
               std::size_t& taken) {
        taken = 0;
        std::unique_lock lock(mutex_);
        if (!WaitForEvents(lock, timeout)) {
            return MayGrow() ? Taken::kTimedOut : Taken::kEnded;
        }
        const std::size_t batch = std::min(most, count_);
        while (taken < batch) {
            const std::span<StreamEvent> run = OldestRun(batch - taken);
            take(std::span<const StreamEvent>(run));
            ForgetRun(run);
            taken += run.size();
        }
        if (count_ == 0) {
            Drain();
        }
        return Taken::kEvents;
    }

    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    bool MayGrow() const { return inventoryRunning_ || completionsExpected_ > 0; }
    // Waits up to `timeout` (nothing: for ever) while the queue is empty and events may still come;
    // whether any is queued.
    bool WaitForEvents(std::unique_lock<std::mutex>& lock, std::optional<std::chrono::milliseconds> timeout);
    void Signal();
    void Drain();
    // The events wait in a ring that grows by doubling and keeps its room, so that taking and
    // queueing a read allocates nothing once the ring has grown to what the stream needs.
    void Append(StreamEvent event);
    // Drops the oldest event that is not a completion; false when every queued event is one.
    bool DropOldest();
    // Up to `most` of the oldest events that lie back to back in the ring (stopping at its end).
    std::span<StreamEvent> OldestRun(std::size_t most);
    // Takes the run out of the queue; it must be the oldest.
    void ForgetRun(std::span<StreamEvent> run);
    // A taken or dropped event lets go of its completion's result. A tag event has none: its
    // place in the ring is not written, so that taking reads leaves the ring's memory clean.
    static void Forget(StreamEvent& event) {
        if (event.completion) {
            event.completion.reset();
        }
    }

    UniqueFd eventFd_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<StreamEvent> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::size_t capacity_ = kDefaultCapacity;
    bool inventoryRunning_ = false;
    std::size_t completionsExpected_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace zendrik::session
