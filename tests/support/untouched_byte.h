#pragma once

#include <cstdint>

namespace zendrik::testing {

// What a test fills a destination with before a call, so that a byte the call did not write shows.
inline constexpr uint8_t kUntouched = 0xEE;

}  // namespace zendrik::testing
