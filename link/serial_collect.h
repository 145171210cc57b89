#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/serial_port.h"

namespace zendrik {

// The serial link collects a reply in a 256-byte buffer, so a reply carries at most 248 data bytes.
inline constexpr std::size_t kSerialCollectionSize = 256;
using SerialCollection = std::array<uint8_t, kSerialCollectionSize>;

// Reads one reply frame byte by byte: synchronises on the start byte (at most two stray bytes or
// time-outs before it), then reads until the length its header announces. result::kOk with the frame
// at the start of `buffer`, result::kNoStartByte, result::kByteTimeout, or
// result::kBadReply for a length that cannot fit the buffer (refused before reading on).
// With `patience` above zero, time-outs before the start byte count only once that long has passed
// on `clock` since the collection began, so that a reader slow to answer is waited for; stray
// bytes always count.
int32_t CollectSerialReply(SerialPort& port, SerialCollection& buffer, Clock& clock, Milliseconds patience);

// How long the collection waits for a reply that does not come, given the port's byte time-out.
Milliseconds SerialReplyPatience(Milliseconds byteTimeout);

}  // namespace zendrik
