#include "link/reply_check.h"

#include <algorithm>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {

int32_t CheckAndCopyReply(std::span<const uint8_t> collected, std::span<uint8_t> reply) {
    if (collected.size() <= kOffsetLengthLow) {
        return result::kBadReply;
    }
    const std::size_t dataLength = collected[kOffsetLengthLow];
    const std::size_t frameLength = ReplyFrameLength(collected[kOffsetLengthLow]);
    if (frameLength > collected.size() || frameLength > reply.size()) {
        return result::kBadReply;
    }
    const std::size_t crcOffset = kOffsetData + dataLength;
    const uint16_t expected = Crc16(collected.subspan(kOffsetAddress, kCrcHeaderBytes + dataLength));
    const uint16_t received = static_cast<uint16_t>(collected[crcOffset] | (collected[crcOffset + 1] << 8));
    if (expected != received || collected[0] != kStartByte) {
        return result::kBadReply;
    }
    std::copy_n(collected.begin(), frameLength, reply.begin());
    return result::kOk;
}

}  // namespace zendrik
