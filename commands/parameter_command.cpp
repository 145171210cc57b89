#include "commands/parameter_command.h"

#include "commands/plain_command.h"
#include "commands/retried_command.h"
#include "link/result_codes.h"

namespace zendrik {

int32_t RunParameterCommand(Link& link, const ParameterCommand& command, uint8_t address,
                            std::span<const uint8_t> data, std::span<uint8_t> output) {
    if (command.settleWait > Milliseconds::zero()) {
        link.SettleOnce(command.settleWait);
    }
    const ReplyShape shape = ExpectedReply(command);
    const int32_t result =
        command.family == ParameterFamily::kPlain
            ? RunPlainCommand(link, address, command.code, data, output, shape)
            : RunRetriedCommand(link, address, command.code, command.attempts, data, output, shape);
    if (result == result::kOk && command.waitAfterSuccess > Milliseconds::zero()) {
        link.clock().wait(command.waitAfterSuccess);
    }
    return result;
}

}  // namespace zendrik
