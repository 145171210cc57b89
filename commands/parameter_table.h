#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/clock.h"
#include "link/link.h"
#include "link/reply_shape.h"

namespace zendrik {

// How a standard-frame parameter command treats a reply that does not read success.
enum class ParameterFamily : uint8_t {
    kPlain,    // one standard exchange; a failed exchange is reported with its own code
    kRetried,  // one attempt per listed exchange variant; only the reader's answer is judged
};

// One reader setting as the reader's protocol reads or writes it.
struct ParameterCommand {
    uint8_t code;
    ParameterFamily family;
    std::span<const ExchangeVariant> attempts;  // retried: the exchange variant of each attempt, in order
    std::size_t dataLength;                     // request data bytes, taken from the caller
    std::size_t outputLength;                   // reply data bytes from data[0] handed to the caller
    Milliseconds settleWait{0};                 // waited once after a handshake, before the first attempt
    Milliseconds waitAfterSuccess{0};
};

// The reader answers each of these commands with exactly the data bytes the command hands on:
// none for a set or the factory default, outputLength for a get.
constexpr ReplyShape ExpectedReply(const ParameterCommand& command) {
    return ReplyShape::Exactly(command.outputLength);
}

namespace parameter {
extern const ParameterCommand kSetWorkMode;
extern const ParameterCommand kGetWorkMode;
extern const ParameterCommand kSetBuzzer;
extern const ParameterCommand kGetBuzzer;
extern const ParameterCommand kSetWiegandFormat;
extern const ParameterCommand kGetWiegandFormat;
extern const ParameterCommand kSetTriggerTime;
extern const ParameterCommand kGetTriggerTime;
extern const ParameterCommand kSetWiegandInterval;
extern const ParameterCommand kGetWiegandInterval;
extern const ParameterCommand kSetReadTagInterval;
extern const ParameterCommand kGetReadTagInterval;
extern const ParameterCommand kSetWiegandOutBytes;
extern const ParameterCommand kGetWiegandOutBytes;
extern const ParameterCommand kSetPassword;
extern const ParameterCommand kGetPassword;
extern const ParameterCommand kSetAddress;
extern const ParameterCommand kGetAddress;
extern const ParameterCommand kGetOutPower;
extern const ParameterCommand kFactoryDefault;
}  // namespace parameter

}  // namespace zendrik
