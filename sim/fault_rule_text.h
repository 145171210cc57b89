#pragma once

#include <optional>
#include <string_view>

#include "sim/fault.h"

namespace zendrik::sim {

// Reads a fault rule as the command line gives it: KIND[=VALUE][@COMMAND][*COUNT]
//   KIND     silence | crc | status=BYTE | stray[=COUNT] | late[=MS] | short[=BYTES]
//   COMMAND  a command code (0xF6 or 246) of a standard frame, or s0x06 for a short frame;
//            without it the rule applies to every request
//   COUNT    how many replies to spoil; without it, all of them
// Defaults: 2 stray bytes, 1500 ms late (past the library's UDP time-out), 4 bytes kept.
std::optional<FaultRule> ParseFaultRule(std::string_view text);

}  // namespace zendrik::sim
