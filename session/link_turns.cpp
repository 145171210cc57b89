#include "session/link_turns.h"

namespace zendrik::session {

LinkTurns::Turn LinkTurns::ForCaller() {
    std::unique_lock lock(mutex_);
    ++callersWaiting_;
    changed_.wait(lock, [this] { return !taken_; });
    --callersWaiting_;
    taken_ = true;
    return Turn(*this);
}

std::optional<LinkTurns::Turn> LinkTurns::ForInventory(std::optional<Clock::TimePoint> until) {
    std::unique_lock lock(mutex_);
    const auto free = [this] { return !taken_ && callersWaiting_ == 0; };
    if (until) {
        if (!changed_.wait_until(lock, *until, free)) {
            return std::nullopt;
        }
    } else {
        changed_.wait(lock, free);
    }
    taken_ = true;
    return Turn(*this);
}

void LinkTurns::Release() {
    {
        const std::lock_guard lock(mutex_);
        taken_ = false;
    }
    changed_.notify_all();
}

}  // namespace zendrik::session
