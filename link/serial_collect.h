#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/clock.h"
#include "link/serial_port.h"

namespace zendrik {

// The serial link collects a reply in a 256-byte buffer, so a reply carries at most 248 data bytes.
inline constexpr std::size_t kSerialCollectionSize = 256;
using SerialCollection = std::array<uint8_t, kSerialCollectionSize>;

// A reply that may take long to begin: byte time-outs before the start byte do not count as misses
// until `until` (on `clock`) has come.
struct StartByteWait {
    Clock& clock;
    Clock::TimePoint until;
};

// Reads one reply frame byte by byte: synchronises on the start byte (at most two stray bytes or
// time-outs before it), then reads until the length its header announces. result::kOk with the frame
// at the start of `buffer`, result::kNoStartByte, result::kByteTimeout, or
// result::kBadReply for a length that cannot fit the buffer (refused before reading on).
int32_t CollectSerialReply(SerialPort& port, SerialCollection& buffer,
                           const std::optional<StartByteWait>& patience = std::nullopt);

}  // namespace zendrik
