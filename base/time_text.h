#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The texts of a moment in time that the project writes: local time for people reading a terminal
// or a trace, UTC for the JSON that programs read.
namespace zendrik::base {

// Local time with milliseconds: 2024-05-01T12:34:56.789.
std::string LocalTimeStamp(std::chrono::system_clock::time_point when);

// UTC with milliseconds and "Z": 2026-12-08T15:08:00.485Z. Times before 1970 keep a millisecond
// part of 0..999 (-1 is 1969-12-31T23:59:59.999Z).
std::string UtcText(int64_t utcMs);
// The same, appended to `out`: the event JSON writes it many times a second.
void AppendUtcText(std::string& out, int64_t utcMs);
// Back from such a text with a year of four digits (as recorded events carry it) to milliseconds
// since 1970; nothing for any other text.
std::optional<int64_t> ParseUtcText(std::string_view text);

}  // namespace zendrik::base
