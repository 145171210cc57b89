#include "link/reply_shape.h"

#include "link/command_reply.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

int32_t ShapeResult(const Link& link, std::size_t dataLength, const ReplyShape& shape) {
    if (link.reply_rules().shapes == ReplyShapes::kExact) {
        return dataLength >= shape.reads && dataLength >= shape.fewest && dataLength <= shape.most
                   ? result::kOk
                   : result::kBadReply;
    }
    return dataLength >= shape.reads ? result::kOk : result::kStatus;
}

}  // namespace

int32_t JudgeReply(Link& link, std::span<const uint8_t> reply, const ReplyShape& shape) {
    const int32_t judged =
        ReplyStatusOk(reply) ? ShapeResult(link, ReplyDataLength(reply), shape) : result::kStatus;
    if (judged != result::kOk) {
        link.SuspectLateReply();
    }
    return judged;
}

int32_t ExchangeAndJudge(Link& link, const ExchangeVariant& variant, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, const ReplyShape& shape) {
    const int32_t exchanged = link.Exchange(variant, request, reply);
    return exchanged == result::kOk ? JudgeReply(link, reply, shape) : exchanged;
}

}  // namespace zendrik
