#include "commands/parameter_table.h"

#include <array>

#include "link/frame.h"

namespace zendrik {
namespace {

// The reader answers some requests slowly over USB; their retries wait longer before the first poll.
constexpr int kSlowFirstWaitMs = 100;
constexpr int kPowerFirstWaitMs = 232;

constexpr std::size_t kByte = 1;
constexpr std::size_t kWiegandOutBytesLength = 4;
constexpr std::size_t kPasswordRecordLength = 5;  // enable flag, then the four password bytes

// The reader needs time after a handshake before it reports its output power.
constexpr Milliseconds kPowerSettleWait{1100};
// Resetting to factory defaults takes the reader a moment before it answers the next request.
constexpr Milliseconds kFactoryDefaultRecovery{100};

constexpr std::array kStandardTwice{ExchangeVariant::Standard(), ExchangeVariant::Standard()};
constexpr std::array kWaitedTwice{ExchangeVariant::Waited(kSlowFirstWaitMs),
                                  ExchangeVariant::Waited(kSlowFirstWaitMs)};
constexpr std::array kStandardThenWaited{ExchangeVariant::Standard(),
                                         ExchangeVariant::Waited(kSlowFirstWaitMs)};
constexpr std::array kPowerAttempts{ExchangeVariant::Standard(), ExchangeVariant::Waited(kPowerFirstWaitMs),
                                    ExchangeVariant::Waited(kPowerFirstWaitMs)};

constexpr auto kPlain = ParameterFamily::kPlain;
constexpr auto kRetried = ParameterFamily::kRetried;

}  // namespace

namespace parameter {
// clang-format off
const ParameterCommand kSetWorkMode{command::kSetWorkMode, kPlain, {}, kByte, 0};
const ParameterCommand kGetWorkMode{command::kGetWorkMode, kPlain, {}, 0, kByte};
const ParameterCommand kSetBuzzer{command::kSetBuzzer, kPlain, {}, kByte, 0};
const ParameterCommand kGetBuzzer{command::kGetBuzzer, kPlain, {}, 0, kByte};
const ParameterCommand kSetWiegandFormat{command::kSetWiegandFormat, kPlain, {}, kByte, 0};
const ParameterCommand kGetWiegandFormat{command::kGetWiegandFormat, kRetried, kStandardTwice, 0, kByte};
const ParameterCommand kSetTriggerTime{command::kSetTriggerTime, kPlain, {}, kByte, 0};
const ParameterCommand kGetTriggerTime{command::kGetTriggerTime, kPlain, {}, 0, kByte};
const ParameterCommand kSetWiegandInterval{command::kSetWiegandInterval, kPlain, {}, kByte, 0};
const ParameterCommand kGetWiegandInterval{command::kGetWiegandInterval, kPlain, {}, 0, kByte};
const ParameterCommand kSetReadTagInterval{command::kSetReadTagInterval, kPlain, {}, kByte, 0};
const ParameterCommand kGetReadTagInterval{command::kGetReadTagInterval, kPlain, {}, 0, kByte};
const ParameterCommand kSetWiegandOutBytes{command::kSetWiegandOutBytes, kRetried, kStandardTwice,
                                           kWiegandOutBytesLength, 0};
const ParameterCommand kGetWiegandOutBytes{command::kGetWiegandOutBytes, kRetried, kStandardTwice, 0,
                                           kWiegandOutBytesLength};
const ParameterCommand kSetPassword{command::kSetPassword, kPlain, {}, kPasswordRecordLength, 0};
const ParameterCommand kGetPassword{command::kGetPassword, kPlain, {}, 0, kPasswordRecordLength};
const ParameterCommand kSetAddress{command::kSetAddress, kRetried, kWaitedTwice, kByte, 0};
const ParameterCommand kGetAddress{command::kGetAddress, kRetried, kStandardThenWaited, 0, kByte};
const ParameterCommand kGetOutPower{command::kGetOutPower, kRetried, kPowerAttempts, 0, kByte, kPowerSettleWait};
const ParameterCommand kFactoryDefault{command::kFactoryDefault, kRetried, kStandardTwice, 0, 0,
                                       Milliseconds{0}, kFactoryDefaultRecovery};
// clang-format on
}  // namespace parameter

}  // namespace zendrik
