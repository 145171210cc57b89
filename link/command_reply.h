#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/frame.h"

namespace zendrik {

// Every command call owns its reply buffer, zeroed when the call starts: a failed exchange leaves it
// as it was, so a zero status byte is what "no reply" looks like to the command.
inline constexpr std::size_t kStandardReplyCapacity = 128;
// Short-frame commands and the handshake take replies into the larger buffer.
inline constexpr std::size_t kLongReplyCapacity = 300;

using StandardReply = std::array<uint8_t, kStandardReplyCapacity>;
using LongReply = std::array<uint8_t, kLongReplyCapacity>;

// The reader's verdict on a standard-frame request.
inline bool ReplyStatusOk(std::span<const uint8_t> reply) {
    return reply.size() > kOffsetStatus && reply[kOffsetStatus] == kStatusOk;
}

// The reply's data length byte.
inline uint8_t ReplyDataLength(std::span<const uint8_t> reply) {
    return reply.size() > kOffsetLengthLow ? reply[kOffsetLengthLow] : uint8_t{0};
}

// Whether `count` bytes from `offset` lie inside the reply buffer.
inline bool ReplyHolds(std::span<const uint8_t> reply, std::size_t offset, std::size_t count) {
    return offset <= reply.size() && count <= reply.size() - offset;
}

// Copies reply bytes [offset, offset + destination.size()) into `destination`. False, with nothing
// written, when those bytes do not lie inside the reply buffer.
bool CopyFromReply(std::span<const uint8_t> reply, std::size_t offset, std::span<uint8_t> destination);

}  // namespace zendrik
