#include "commands/short_frame_command.h"

#include "commands/short_frame.h"
#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {

int32_t ExchangeShortFrame(Link& link, uint8_t code, std::span<const uint8_t> data, LongReply& reply) {
    const auto request = BuildShortFrame(code, data);
    return link.Exchange(ExchangeVariant::Standard(), request, reply);
}

int32_t RunShortFrameCommand(Link& link, const ShortFrameCommand& command, std::span<const uint8_t> data,
                             std::span<uint8_t> output) {
    if (command.settleWait > Milliseconds::zero()) {
        link.SettleOnce(command.settleWait);
    }
    LongReply reply{};
    if (const int32_t result = ExchangeShortFrame(link, command.code, data, reply); result != result::kOk) {
        return result;
    }
    if (command.check == ShortReplyCheck::kStatusZero && reply[kOffsetStatus] != kShortFrameStatusOk) {
        return result::kShortFrameStatus;
    }
    if (!CopyFromReply(reply, kShortReplyRecordOffset, output)) {
        return result::kBadReply;
    }
    if (command.waitAfterSuccess > Milliseconds::zero()) {
        link.clock().wait(command.waitAfterSuccess);
    }
    return result::kOk;
}

}  // namespace zendrik
