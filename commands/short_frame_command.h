#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/clock.h"
#include "link/command_reply.h"
#include "link/link.h"

namespace zendrik {

// The reader's answer to a short frame is a standard reply frame; the record it carries starts at
// byte 3, where a standard reply keeps its length byte.
inline constexpr std::size_t kShortReplyRecordOffset = 3;

enum class ShortReplyCheck : uint8_t {
    kNone,        // any reply that passes the exchange is success
    kStatusZero,  // reply byte 2 must be 0, else result::kShortFrameStatus
};

// One short-frame command as the reader's protocol defines it.
struct ShortFrameCommand {
    uint8_t code;
    std::size_t dataLength;    // request data bytes, taken from the caller
    std::size_t outputLength;  // reply bytes from kShortReplyRecordOffset handed to the caller
    ShortReplyCheck check;
    Milliseconds settleWait{0};  // waited once after a handshake, before the exchange
    Milliseconds waitAfterSuccess{0};
};

// Builds the short frame and sends it once through the standard exchange into `reply`; the
// exchange's result.
int32_t ExchangeShortFrame(Link& link, uint8_t code, std::span<const uint8_t> data, LongReply& reply);

// Runs one short-frame command of the table: a failed exchange is reported with its own code; then
// the reply check, the output copy (written only on success) and the wait after success.
int32_t RunShortFrameCommand(Link& link, const ShortFrameCommand& command, std::span<const uint8_t> data,
                             std::span<uint8_t> output);

}  // namespace zendrik
