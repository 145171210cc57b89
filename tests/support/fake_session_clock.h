#pragma once

#include <cstdint>
#include <vector>

#include "session/session_clock.h"

namespace zendrik::testing {

// Simulated time for sessions: sleeping advances the monotonic clock at once (and records the
// sleep), and the calendar time moves with it from a fixed start.
class FakeSessionClock final : public session::SessionClock {
  public:
    // 2026-12-08T15:08:00.000Z
    static constexpr int64_t kStartUtcMs = 1796742480000;

    TimePoint now() override { return now_; }

    void sleep_until(TimePoint deadline) override {
        sleeps_.push_back(std::chrono::duration_cast<Milliseconds>(
            deadline > now_ ? deadline - now_ : TimePoint::duration::zero()));
        now_ = std::max(now_, deadline);
    }

    int64_t UtcMilliseconds() override { return kStartUtcMs + elapsed().count(); }

    void advance(Milliseconds duration) { now_ += duration; }
    void advance_to(TimePoint when) { now_ = std::max(now_, when); }
    Milliseconds elapsed() const { return std::chrono::duration_cast<Milliseconds>(now_ - TimePoint{}); }
    const std::vector<Milliseconds>& sleeps() const { return sleeps_; }

  private:
    TimePoint now_{};
    std::vector<Milliseconds> sleeps_;
};

}  // namespace zendrik::testing
