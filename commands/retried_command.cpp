#include "commands/retried_command.h"

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"
#include "link/status_retry.h"

namespace zendrik {

int32_t RunRetriedCommand(Link& link, uint8_t address, uint8_t code,
                          std::span<const ExchangeVariant> attempts, std::span<const uint8_t> data,
                          std::span<uint8_t> output, const ReplyShape& shape) {
    const auto request = BuildStandardFrame(address, code, data);
    StandardReply reply{};  // shared by all attempts
    if (const int32_t result = ExchangeUntilStatusOk(link, attempts, request, reply, shape);
        result != result::kOk) {
        return result;
    }
    return CopyFromReply(reply, kOffsetData, output) ? result::kOk : result::kStatus;
}

}  // namespace zendrik
