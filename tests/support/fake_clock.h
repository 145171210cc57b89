#pragma once

#include <functional>
#include <vector>

#include "link/clock.h"

namespace zendrik::testing {

// Simulated time: sleeping advances the clock at once and records how long each sleep was, so a
// test can assert the exact waits of an exchange. An optional hook runs after every sleep, which
// lets a fake peer deliver its answer "later".
class FakeClock final : public Clock {
public:
    TimePoint now() override { return now_; }

    void sleep_until(TimePoint deadline) override {
        const auto slept = deadline > now_ ? deadline - now_ : TimePoint::duration::zero();
        sleeps_.push_back(std::chrono::duration_cast<Milliseconds>(slept));
        if (deadline > now_) {
            now_ = deadline;
        }
        if (onSleep_) {
            onSleep_();
        }
    }

    void advance(Milliseconds duration) { now_ += duration; }
    Milliseconds elapsed() const { return std::chrono::duration_cast<Milliseconds>(now_ - TimePoint{}); }
    const std::vector<Milliseconds>& sleeps() const { return sleeps_; }
    void clear_sleeps() { sleeps_.clear(); }
    void on_sleep(std::function<void()> hook) { onSleep_ = std::move(hook); }

private:
    TimePoint now_{};
    std::vector<Milliseconds> sleeps_;
    std::function<void()> onSleep_;
};

}  // namespace zendrik::testing
