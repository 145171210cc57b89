#include "commands/plain_command.h"

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {

int32_t RunPlainCommand(Link& link, uint8_t address, uint8_t code, std::span<const uint8_t> data,
                        std::span<uint8_t> output, const ReplyShape& shape) {
    const auto request = BuildStandardFrame(address, code, data);
    StandardReply reply{};
    if (const int32_t result = ExchangeAndJudge(link, ExchangeVariant::Standard(), request, reply, shape);
        result != result::kOk) {
        return result;
    }
    return CopyFromReply(reply, kOffsetData, output) ? result::kOk : result::kBadReply;
}

}  // namespace zendrik
