#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik::sim {

// "AA FF DC": upper-case pairs separated by spaces, for the trace.
std::string HexBytes(std::span<const uint8_t> bytes);

// Reads hex digits in pairs, either case, ignoring spaces, ':' and '-' between pairs. Nothing for
// an odd digit count or any other character.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

}  // namespace zendrik::sim
