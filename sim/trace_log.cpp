#include "sim/trace_log.h"

#include <chrono>
#include <ctime>
#include <iomanip>

#include "sim/hex_bytes.h"

namespace zendrik::sim {
namespace {

constexpr int kMillisecondDigits = 3;
constexpr int kTransportWidth = 6;

void WriteTimeStamp(std::ostream& out) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                              std::chrono::seconds{1};
    std::tm local{};
    ::localtime_r(&seconds, &local);
    out << std::put_time(&local, "%H:%M:%S") << '.' << std::setfill('0') << std::setw(kMillisecondDigits)
        << milliseconds.count() << std::setfill(' ');
}

}  // namespace

void TraceLog::Received(std::string_view transport, std::span<const uint8_t> bytes) {
    Line(transport, "<-", HexBytes(bytes));
}

void TraceLog::Sent(std::string_view transport, std::span<const uint8_t> bytes) {
    Line(transport, "->", HexBytes(bytes));
}

void TraceLog::Note(std::string_view transport, std::string_view text) {
    Line(transport, "  ", text);
}

void TraceLog::Line(std::string_view transport, std::string_view arrow, std::string_view text) {
    const std::lock_guard lock(mutex_);
    WriteTimeStamp(out_);
    out_ << ' ' << std::left << std::setw(kTransportWidth) << transport << std::right << arrow << ' ' << text
         << std::endl;
}

}  // namespace zendrik::sim
