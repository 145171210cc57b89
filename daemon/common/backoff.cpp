#include "daemon/common/backoff.h"

#include <algorithm>
#include <random>

namespace zendrik::daemon {

std::chrono::milliseconds ReconnectDelay(unsigned failures, const BackoffPolicy& policy, double random01) {
    using std::chrono::milliseconds;
    // Doubling stops once the ceiling is reached, so the shift never overflows.
    milliseconds base = std::max(policy.first, milliseconds{1});
    for (unsigned i = 0; i < failures && base < policy.ceiling; ++i) {
        base *= 2;
    }
    base = std::min(base, std::max(policy.ceiling, milliseconds{1}));
    const double fraction = std::clamp(random01, 0.0, 1.0);
    const auto half = base / 2;
    return half + milliseconds{static_cast<long long>(static_cast<double>((base - half).count()) * fraction)};
}

std::chrono::milliseconds Backoff::NextDelay() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto delay = ReconnectDelay(failures_, policy_, uniform(generator));
    ++failures_;
    return delay;
}

}  // namespace zendrik::daemon
