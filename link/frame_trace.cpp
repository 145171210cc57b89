#include "link/frame_trace.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

constexpr const char* kTraceVariable = "ZENDRIK_TRACE";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kMillisecondsPerSecond = 1000;

std::string TimeStamp(std::chrono::system_clock::time_point when) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % kMillisecondsPerSecond;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[sizeof "2000-01-01T00:00:00.000"];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + used, sizeof text - used, ".%03d", static_cast<int>(millis));
    return text;
}

std::string LinePrefix(std::chrono::system_clock::time_point when, std::string_view link,
                       std::string_view what) {
    std::string line = TimeStamp(when);
    line.append(" ").append(link).append(" ").append(what);
    return line;
}

// One write per line, so that lines from several processes sharing standard error stay whole.
void WriteToStandardError(const std::string& line) {
    const char* next = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, left);
        if (written <= 0) {
            return;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

bool FrameTraceEnabled() {
    const char* value = std::getenv(kTraceVariable);
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

std::string FormatTraceLine(std::chrono::system_clock::time_point when, std::string_view link,
                            TraceDirection direction, std::span<const uint8_t> frame) {
    std::string line = LinePrefix(when, link, direction == TraceDirection::kSent ? "TX" : "RX");
    for (const uint8_t byte : frame) {
        line.push_back(' ');
        line.push_back(kHexDigits[byte >> 4]);
        line.push_back(kHexDigits[byte & 0x0F]);
    }
    line.push_back('\n');
    return line;
}

std::string FormatTraceFailure(std::chrono::system_clock::time_point when, std::string_view link,
                               int32_t code) {
    return LinePrefix(when, link, "RX error ") + std::to_string(code) + "\n";
}

void TraceSent(std::string_view link, std::span<const uint8_t> request) {
    if (FrameTraceEnabled()) {
        WriteToStandardError(
            FormatTraceLine(std::chrono::system_clock::now(), link, TraceDirection::kSent, request));
    }
}

void TraceReceived(std::string_view link, int32_t result, std::span<const uint8_t> reply) {
    if (!FrameTraceEnabled()) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    if (result != result::kOk) {
        WriteToStandardError(FormatTraceFailure(now, link, result));
        return;
    }
    // On success the reply frame's own length byte says how much of the buffer it fills.
    std::size_t length = reply.size();
    if (reply.size() > kOffsetLengthLow) {
        length = std::min(reply.size(), ReplyFrameLength(reply[kOffsetLengthLow]));
    }
    WriteToStandardError(FormatTraceLine(now, link, TraceDirection::kReceived, reply.first(length)));
}

void TraceEvent(std::string_view link, std::string_view text) {
    if (FrameTraceEnabled()) {
        WriteToStandardError(LinePrefix(std::chrono::system_clock::now(), link, text) + "\n");
    }
}

}  // namespace zendrik
