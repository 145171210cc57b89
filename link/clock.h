#pragma once

#include <chrono>

namespace zendrik {

using Milliseconds = std::chrono::milliseconds;

// Every wait of the library goes through a Clock: "until N ms have passed on the monotonic clock",
// realised by sleeping until the deadline, never by spinning. Tests substitute a simulated clock
// so that the long waits of the protocol (up to 1100 ms) cost nothing and can be asserted exactly.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep_until(TimePoint deadline) = 0;

    void wait(Milliseconds duration) { sleep_until(now() + duration); }
};

class SystemClock final : public Clock {
public:
    TimePoint now() override;
    void sleep_until(TimePoint deadline) override;
};

}  // namespace zendrik
