#include "link/serial_collect.h"

#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// Reads and misses allowed before the start byte: the third miss gives up.
constexpr int kMaxStartMisses = 3;
// The expected length before the header has been read; replaced once byte 3 is in.
constexpr std::size_t kProvisionalLength = 100;

}  // namespace

Milliseconds SerialReplyPatience(Milliseconds byteTimeout) {
    return kMaxStartMisses * byteTimeout;
}

int32_t CollectSerialReply(SerialPort& port, SerialCollection& buffer, Clock& clock, Milliseconds patience) {
    const Clock::TimePoint waitUntil = clock.now() + patience;
    buffer.fill(0);
    std::size_t expected = kProvisionalLength;
    std::size_t index = 0;
    int misses = 0;
    bool synchronised = false;
    while (index != expected) {
        if (!synchronised) {
            const std::optional<uint8_t> byte = port.ReadByte();
            if (!byte && clock.now() < waitUntil) {
                continue;  // still within the patience: the reader is slow, not silent
            }
            if (!byte || *byte != kStartByte) {
                if (++misses >= kMaxStartMisses) {
                    return result::kNoStartByte;
                }
                continue;
            }
            buffer[0] = kStartByte;
            synchronised = true;
        } else {
            const std::optional<uint8_t> byte = port.ReadByte();
            if (!byte) {
                return result::kByteTimeout;
            }
            buffer[index] = *byte;
        }
        if (index == kOffsetLengthLow) {
            expected = ReplyFrameLength(buffer[kOffsetLengthLow]);
            if (expected > buffer.size()) {
                return result::kBadReply;
            }
        }
        ++index;
    }
    return result::kOk;
}

}  // namespace zendrik
