#include "daemon/mqtt/send_pace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zendrik::daemon {
namespace {

// The bucket holds this share of a second's messages: the rate holds over any tenth of a second.
constexpr double kBurstSeconds = 0.1;

}  // namespace

SendPace::SendPace(std::optional<uint32_t> perSecond, Clock::time_point now)
    : perSecond_(perSecond),
      burst_(perSecond ? std::max(1.0, *perSecond * kBurstSeconds) : 0),
      tokens_(burst_),
      refilled_(now) {}

void SendPace::Refill(Clock::time_point now) {
    if (now <= refilled_) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    tokens_ = std::min(burst_, tokens_ + seconds * *perSecond_);
    refilled_ = now;
}

std::size_t SendPace::Allowed(Clock::time_point now) {
    if (!perSecond_) {
        return std::numeric_limits<std::size_t>::max();
    }
    Refill(now);
    return static_cast<std::size_t>(std::floor(tokens_));
}

void SendPace::Sent(std::size_t count) {
    if (perSecond_) {
        tokens_ -= static_cast<double>(count);
    }
}

SendPace::Clock::time_point SendPace::NextAt() const {
    if (!perSecond_ || tokens_ >= 1) {
        return refilled_;
    }
    const std::chrono::duration<double> wait((1 - tokens_) / *perSecond_);
    return refilled_ + std::chrono::ceil<Clock::duration>(wait);
}

}  // namespace zendrik::daemon
