#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// The reader's identity records are at most this long; callers provide buffers of this size.
inline constexpr std::size_t kIdentityCapacity = 50;

enum class IdentityRecord : uint8_t { kVersion, kSerialNumber };

// Fetches the reader's version or serial number bytes into buffer[0 .. L-1] (no terminator) and
// stores their count L in `length`. Tries a second time, with the longer first wait, when the first
// answer is not a success. Every failure, of the link or of the reader, and a record longer than
// the buffer, is result::kStatus with nothing written.
int32_t ReadIdentity(Link& link, uint8_t address, IdentityRecord record,
                     std::span<uint8_t, kIdentityCapacity> buffer, std::size_t& length);

}  // namespace zendrik
