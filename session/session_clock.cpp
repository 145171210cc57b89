#include "session/session_clock.h"

#include <chrono>
#include <thread>

namespace zendrik::session {

Clock::TimePoint SystemSessionClock::now() {
    return std::chrono::steady_clock::now();
}

void SystemSessionClock::sleep_until(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

int64_t SystemSessionClock::UtcMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

SessionClock& SystemSessionClockInstance() {
    static SystemSessionClock clock;
    return clock;
}

}  // namespace zendrik::session
