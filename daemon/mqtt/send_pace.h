#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zendrik::daemon {

// Paces the messages of the spool to a rate (a token bucket): a backlog after an outage goes out
// at that rate rather than as fast as the broker takes it, so that the systems behind the broker
// are not flooded. Up to a tenth of a second's messages may go at once; without a rate, any
// number. Given the time, so that it is tested in simulated time.
class SendPace {
  public:
    using Clock = std::chrono::steady_clock;

    explicit SendPace(std::optional<uint32_t> perSecond, Clock::time_point now = Clock::now());

    // How many messages may go now.
    std::size_t Allowed(Clock::time_point now);
    // They went.
    void Sent(std::size_t count);
    // When the next message may go, once Allowed() said none.
    Clock::time_point NextAt() const;
    bool limited() const { return perSecond_.has_value(); }

  private:
    void Refill(Clock::time_point now);

    std::optional<uint32_t> perSecond_;
    double burst_ = 0;
    double tokens_ = 0;
    Clock::time_point refilled_;
};

}  // namespace zendrik::daemon
