#include "commands/output_power.h"

#include <optional>
#include <span>

#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"
#include "link/status_retry.h"

namespace zendrik {
namespace {

constexpr int kMaxPowerSends = 3;
// Gives the reader time to apply the power before it is read back, and again after it has confirmed.
constexpr Milliseconds kApplyWait{10};

}  // namespace

int32_t GetOutPower(Link& link, uint8_t address, uint8_t& power) {
    return RunParameterCommand(link, parameter::kGetOutPower, address, {}, std::span(&power, 1));
}

int32_t SetOutPower(Link& link, uint8_t address, uint8_t power) {
    const uint8_t data[] = {power};
    const auto request = BuildStandardFrame(address, command::kSetOutPower, data);
    // One read-back value for the whole call: a failed read-back keeps the previous one, and before
    // the first successful read-back nothing has been confirmed.
    std::optional<uint8_t> readBack;
    UnansweredAttempts readBacks;
    StandardReply reply{};
    for (int send = 0; send < kMaxPowerSends; ++send) {
        // The reply to the set itself is not judged: the read-back is the verdict.
        link.Exchange(ExchangeVariant::Standard(), request, reply);
        if (send == 0) {
            link.clock().wait(kApplyWait);
        }
        uint8_t reported = 0;
        const int32_t got = GetOutPower(link, address, reported);
        readBacks.Note(got);
        if (got == result::kOk) {
            readBack = reported;
        }
        if (readBack == power) {
            link.clock().wait(kApplyWait);
            return result::kOk;
        }
    }
    return readBacks.Result(link, result::kVerify);
}

}  // namespace zendrik
