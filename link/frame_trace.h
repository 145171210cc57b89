#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zendrik {

// Frame tracing for diagnosing time-outs and refused replies in the field: every request sent and
// every reply received, or the code of the failed reception, is one debug message of the library's
// log (link/log.h), which by default goes to standard error while ZENDRIK_TRACE is set:
//   <local time> <link> TX <hex bytes>
//   <local time> <link> RX <hex bytes>
//   <local time> <link> RX error <code>
// and events of the link that explain a failure, such as a device that cannot be opened:
//   <local time> <link> <text>
bool FrameTraceEnabled();

enum class TraceDirection { kSent, kReceived };

// The message for the bytes of a frame, "usb TX AA FF ...", and for a failed reception.
std::string TraceFrameText(std::string_view link, TraceDirection direction, std::span<const uint8_t> frame);
std::string TraceFailureText(std::string_view link, int32_t code);

// The lines the default handler writes for them (with their newline), time-stamped with `when`.
std::string FormatTraceLine(std::chrono::system_clock::time_point when, std::string_view link,
                            TraceDirection direction, std::span<const uint8_t> frame);
std::string FormatTraceFailure(std::chrono::system_clock::time_point when, std::string_view link,
                               int32_t code);

// Log the request, and the reply (the whole frame at the start of `reply` on success) or the
// failure code, when tracing is on.
void TraceSent(std::string_view link, std::span<const uint8_t> request);
void TraceReceived(std::string_view link, int32_t result, std::span<const uint8_t> reply);
// Logs one message about an event of the link, at warning level: it explains a failure.
void TraceEvent(std::string_view link, std::string_view text);

}  // namespace zendrik
