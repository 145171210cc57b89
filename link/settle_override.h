#pragma once

#include <optional>

#include "link/clock.h"

namespace zendrik {

// The variable that replaces the waits a handshake leaves before the first power, basic-parameter
// or frequency read. A real reader needs them; a virtual one (zendrik-sim) does not, and a program
// that connects to one again and again (a test suite, a demonstration) would spend its time in them.
inline constexpr const char* kSettleVariable = "ZENDRIK_SETTLE_MS";
// The longest wait the protocol knows, and so the longest the variable may ask for.
inline constexpr Milliseconds kLongestSettleWait{1100};

// A whole number of milliseconds from 0 to kLongestSettleWait; nothing for anything else (absent,
// empty, signed, fractional, too long), which leaves the reader's own waits.
std::optional<Milliseconds> ParseSettleOverride(const char* text);

// ZENDRIK_SETTLE_MS as the process started with it, read once.
std::optional<Milliseconds> SettleOverride();

}  // namespace zendrik
