#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zendrik {

// Frame tracing for diagnosing time-outs and refused replies in the field. When the environment
// variable ZENDRIK_TRACE is set (to anything but "" or "0"), every request sent and every reply
// received, or the code of the failed reception, goes to standard error as one line:
//   <local time> <link> TX <hex bytes>
//   <local time> <link> RX <hex bytes>
//   <local time> <link> RX error <code>
// and events of the link that explain a failure, such as a device that cannot be opened:
//   <local time> <link> <text>
// The variable is read on every frame, so a program may switch tracing on after loading the library.
bool FrameTraceEnabled();

enum class TraceDirection { kSent, kReceived };

// One trace line (with its newline) for the bytes of a frame, time-stamped with `when`.
std::string FormatTraceLine(std::chrono::system_clock::time_point when, std::string_view link,
                            TraceDirection direction, std::span<const uint8_t> frame);
// One trace line for a reception that failed with `code`.
std::string FormatTraceFailure(std::chrono::system_clock::time_point when, std::string_view link,
                               int32_t code);

// Write the request, and the reply (the whole frame at the start of `reply` on success) or the
// failure code, when tracing is on.
void TraceSent(std::string_view link, std::span<const uint8_t> request);
void TraceReceived(std::string_view link, int32_t result, std::span<const uint8_t> reply);
// Writes one line about an event of the link when tracing is on.
void TraceEvent(std::string_view link, std::string_view text);

}  // namespace zendrik
