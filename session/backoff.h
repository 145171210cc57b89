#pragma once

#include "link/clock.h"

namespace zendrik::session {

// How long a lost link waits before each attempt to connect again: 100 ms before the first,
// doubling with every attempt that fails, never more than 5 s. Up to a fifth is taken off at
// random, so that readers lost together (a switch or a hub going down) do not all retry at once.
inline constexpr Milliseconds kFirstReconnectDelay{100};
inline constexpr Milliseconds kLongestReconnectDelay{5000};
inline constexpr double kReconnectJitterShare = 0.2;

// The wait before attempt `attempt` (0 for the first after the loss). `jitter` lies in [0, 1): 0
// gives the full delay, values towards 1 take up to kReconnectJitterShare of it off.
Milliseconds ReconnectDelay(unsigned attempt, double jitter);

}  // namespace zendrik::session
