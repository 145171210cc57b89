#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>

#include "link/clock.h"
#include "link/frame_trace.h"
#include "link/late_reply_watch.h"

namespace zendrik {

// A link that keeps hearing something is not waited for longer than this many quiet periods.
inline constexpr int kQuietPeriodsAtMost = 3;

// Waits until nothing has arrived for `period`, dropping whatever does arrive, and gives up after
// kQuietPeriodsAtMost periods in all. `dropWithin(timeout)` waits up to `timeout` for something
// to arrive (bytes, a report, a datagram), drops it and says whether anything came; it returns
// at once when something has. So a silent link costs exactly one period, a late reply that comes
// after d costs d plus one period, and a chattering one the limit. Returns how often it dropped.
template <typename DropWithin>
int AwaitQuiet(Clock& clock, Milliseconds period, DropWithin&& dropWithin) {
    const Clock::TimePoint limit = clock.now() + kQuietPeriodsAtMost * period;
    for (int dropped = 0;; ++dropped) {
        const Milliseconds left = std::chrono::ceil<Milliseconds>(limit - clock.now());
        if (left <= Milliseconds::zero() || !dropWithin(std::min(period, left))) {
            return dropped;
        }
    }
}

// What every transport does before it sends: waits for the quiet period `late` holds, if any
// (see AwaitQuiet), and traces under `linkName` what it dropped meanwhile.
template <typename DropWithin>
void AwaitQuietBeforeRequest(LateReplyWatch& late, Clock& clock, std::string_view linkName,
                             DropWithin&& dropWithin) {
    const std::optional<Milliseconds> period = late.TakeQuietPeriod();
    if (!period) {
        return;
    }
    if (const int dropped = AwaitQuiet(clock, *period, dropWithin); dropped > 0) {
        TraceEvent(linkName, "dropped " + std::to_string(dropped) + " late arrival(s) before the request");
    }
}

}  // namespace zendrik
