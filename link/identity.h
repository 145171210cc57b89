#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// The reader's identity records are at most this long; callers provide buffers of this size.
inline constexpr std::size_t kIdentityCapacity = 50;

enum class IdentityRecord : uint8_t { kVersion, kSerialNumber };

// The reader's serial number is this long; under exact reply shapes another length is not its answer.
inline constexpr std::size_t kSerialNumberLength = 12;

// Fetches the reader's version or serial number bytes into buffer[0 .. L-1] (no terminator) and
// stores their count L in `length`. Tries a second time, with the longer first wait, when the first
// answer is not a success. Every failure, of the link or of the reader, and a record longer than
// the buffer, is result::kStatus with nothing written; under UnansweredResult::kTransport a link
// that failed every attempt gives the last transport failure instead. Under exact reply shapes a
// version is 1 to kIdentityCapacity bytes long and a serial number kSerialNumberLength; a reply of
// another length is a failed attempt.
int32_t ReadIdentity(Link& link, uint8_t address, IdentityRecord record,
                     std::span<uint8_t, kIdentityCapacity> buffer, std::size_t& length);

}  // namespace zendrik
