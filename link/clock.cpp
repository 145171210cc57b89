#include "link/clock.h"

#include <thread>

namespace zendrik {

Clock::TimePoint SystemClock::now() { return std::chrono::steady_clock::now(); }

void SystemClock::sleep_until(TimePoint deadline) { std::this_thread::sleep_until(deadline); }

}  // namespace zendrik
