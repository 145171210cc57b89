#include "link/frame_trace.h"

#include <algorithm>

#include "link/frame.h"
#include "link/log.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;

std::string Prefixed(std::string_view link, std::string_view what) {
    std::string text(link);
    text.append(" ").append(what);
    return text;
}

}  // namespace

bool FrameTraceEnabled() {
    return log::Wanted(log::Level::kDebug);
}

std::string TraceFrameText(std::string_view link, TraceDirection direction, std::span<const uint8_t> frame) {
    std::string text = Prefixed(link, direction == TraceDirection::kSent ? "TX" : "RX");
    for (const uint8_t byte : frame) {
        text.push_back(' ');
        text.push_back(kHexDigits[byte >> kNibbleBits]);
        text.push_back(kHexDigits[byte & kNibbleMask]);
    }
    return text;
}

std::string TraceFailureText(std::string_view link, int32_t code) {
    return Prefixed(link, "RX error ") + std::to_string(code);
}

std::string FormatTraceLine(std::chrono::system_clock::time_point when, std::string_view link,
                            TraceDirection direction, std::span<const uint8_t> frame) {
    return log::StampedLine(when, TraceFrameText(link, direction, frame));
}

std::string FormatTraceFailure(std::chrono::system_clock::time_point when, std::string_view link,
                               int32_t code) {
    return log::StampedLine(when, TraceFailureText(link, code));
}

void TraceSent(std::string_view link, std::span<const uint8_t> request) {
    if (FrameTraceEnabled()) {
        log::Write(log::Level::kDebug, TraceFrameText(link, TraceDirection::kSent, request));
    }
}

void TraceReceived(std::string_view link, int32_t result, std::span<const uint8_t> reply) {
    if (!FrameTraceEnabled()) {
        return;
    }
    if (result != result::kOk) {
        log::Write(log::Level::kDebug, TraceFailureText(link, result));
        return;
    }
    // On success the reply frame's own length byte says how much of the buffer it fills.
    std::size_t length = reply.size();
    if (reply.size() > kOffsetLengthLow) {
        length = std::min(reply.size(), ReplyFrameLength(reply[kOffsetLengthLow]));
    }
    log::Write(log::Level::kDebug, TraceFrameText(link, TraceDirection::kReceived, reply.first(length)));
}

void TraceEvent(std::string_view link, std::string_view text) {
    if (log::Wanted(log::Level::kWarning)) {
        log::Write(log::Level::kWarning, Prefixed(link, text));
    }
}

}  // namespace zendrik
