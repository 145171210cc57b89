#include "session/backoff.h"

#include <algorithm>

namespace zendrik::session {

Milliseconds ReconnectDelay(unsigned attempt, double jitter) {
    // Doubling past the cap stops early, so that no attempt count can overflow the shift.
    Milliseconds delay = kFirstReconnectDelay;
    for (unsigned doubled = 0; doubled < attempt && delay < kLongestReconnectDelay; ++doubled) {
        delay *= 2;
    }
    delay = std::min(delay, kLongestReconnectDelay);
    const double share = std::clamp(jitter, 0.0, 1.0) * kReconnectJitterShare;
    const auto taken = static_cast<Milliseconds::rep>(static_cast<double>(delay.count()) * share);
    return delay - Milliseconds{taken};
}

}  // namespace zendrik::session
