#pragma once

#include <cstdint>
#include <span>

namespace zendrik {

// Checks a reply collected on the serial or USB link and copies its frame (L + 8 bytes) to `reply`.
// result::kBadReply when the CRC-16 over address..data differs from the CRC bytes, the first byte
// is not the start byte, or the frame does not fit `collected` or `reply` (then nothing is written).
// The end byte is not checked.
int32_t CheckAndCopyReply(std::span<const uint8_t> collected, std::span<uint8_t> reply);

}  // namespace zendrik
