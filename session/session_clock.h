#pragma once

#include <cstdint>

#include "link/clock.h"

namespace zendrik::session {

// The clock of a reader session: the monotonic time every wait and every absence is measured on,
// and the calendar time (UTC) events are stamped with. Tests put a simulated one in its place.
class SessionClock : public Clock {
  public:
    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual int64_t UtcMilliseconds() = 0;
};

class SystemSessionClock final : public SessionClock {
  public:
    TimePoint now() override;
    void sleep_until(TimePoint deadline) override;
    int64_t UtcMilliseconds() override;
};

// The one system clock every session of the process shares (it keeps no state).
SessionClock& SystemSessionClockInstance();

}  // namespace zendrik::session
