#include "base/backoff.h"

#include <algorithm>
#include <random>

namespace zendrik::base {

std::chrono::milliseconds ReconnectDelay(unsigned failures, const BackoffPolicy& policy, double random01) {
    using std::chrono::milliseconds;
    constexpr milliseconds kShortestWait{1};  // a zero wait would spin
    const milliseconds ceiling = std::max(policy.ceiling, kShortestWait);
    // Doubling stops once the ceiling is reached, so that no failure count overflows the shift.
    milliseconds base = std::max(policy.first, kShortestWait);
    for (unsigned doubled = 0; doubled < failures && base < ceiling; ++doubled) {
        base *= 2;
    }
    base = std::min(base, ceiling);
    const auto half = base / 2;
    const double share = std::clamp(random01, 0.0, 1.0);
    return base - milliseconds{static_cast<milliseconds::rep>(static_cast<double>(half.count()) * share)};
}

std::chrono::milliseconds Backoff::NextDelay(double random01) {
    const std::chrono::milliseconds delay = ReconnectDelay(failures_, policy_, random01);
    ++failures_;
    return delay;
}

std::chrono::milliseconds Backoff::NextDelay() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    return NextDelay(uniform(generator));
}

}  // namespace zendrik::base
