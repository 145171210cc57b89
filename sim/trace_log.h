#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <span>
#include <string_view>

namespace zendrik::sim {

// The hex log of every request and reply, one line each, with the local time to the millisecond:
//   12:04:31.207 hid  <- AA FF DC 01 00 01 BF 84 55
//   12:04:31.207 hid  -> AA 01 C8 01 00 01 ...
// Lines from several transport threads do not interleave.
class TraceLog {
  public:
    explicit TraceLog(std::ostream& out) : out_(out) {}

    void Received(std::string_view transport, std::span<const uint8_t> bytes);
    void Sent(std::string_view transport, std::span<const uint8_t> bytes);
    void Note(std::string_view transport, std::string_view text);

  private:
    void Line(std::string_view transport, std::string_view arrow, std::string_view text);

    std::mutex mutex_;
    std::ostream& out_;
};

// Convenience for servers that may run without a trace.
inline void TraceReceived(TraceLog* trace, std::string_view transport, std::span<const uint8_t> bytes) {
    if (trace) {
        trace->Received(transport, bytes);
    }
}
inline void TraceSent(TraceLog* trace, std::string_view transport, std::span<const uint8_t> bytes) {
    if (trace) {
        trace->Sent(transport, bytes);
    }
}
inline void TraceNote(TraceLog* trace, std::string_view transport, std::string_view text) {
    if (trace) {
        trace->Note(transport, text);
    }
}

}  // namespace zendrik::sim
