#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "link/clock.h"

namespace zendrik::session {

// Turns on a reader's link: one user at a time, and callers before the inventory. A plain mutex
// would hand itself to whoever asks first, and the inventory asks again right after each round, so
// a caller could wait for many rounds; here the inventory only takes a turn when no caller waits.
class LinkTurns {
  public:
    // Holds the link until it goes.
    class Turn {
      public:
        explicit Turn(LinkTurns& turns) : turns_(&turns) {}
        Turn(Turn&& other) noexcept : turns_(std::exchange(other.turns_, nullptr)) {}
        Turn& operator=(Turn&&) = delete;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn() {
            if (turns_ != nullptr) {
                turns_->Release();
            }
        }

      private:
        LinkTurns* turns_;
    };

    // Waits until the link is free (for the current inventory round to end, say).
    Turn ForCaller();

    // Waits until the link is free and no caller waits for it, or until `until` (on the steady
    // clock) has come: then nothing, so that the inventory can do what needs no link on time.
    std::optional<Turn> ForInventory(std::optional<Clock::TimePoint> until);

  private:
    void Release();

    std::mutex mutex_;
    std::condition_variable changed_;
    bool taken_ = false;
    int callersWaiting_ = 0;
};

}  // namespace zendrik::session
