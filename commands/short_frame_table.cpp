#include "commands/short_frame_table.h"

#include "commands/short_frame.h"

namespace zendrik::short_frame {
namespace {

constexpr std::size_t kByte = 1;
constexpr std::size_t kRecordLength = 5;       // configuration and version records
constexpr std::size_t kBasicParamLength = 32;  // the basic parameter block

// The reader switches its line speed before it can take the next request.
constexpr Milliseconds kBaudSwitchWait{100};
// The reader needs time after a handshake before it hands out its basic parameters.
constexpr Milliseconds kBasicParamSettleWait{500};

constexpr auto kNone = ShortReplyCheck::kNone;
constexpr auto kStatusZero = ShortReplyCheck::kStatusZero;

}  // namespace

// clang-format off
const ShortFrameCommand kSetBaudRate{short_command::kSetBaudRate, kByte, 0, kNone, Milliseconds{0}, kBaudSwitchWait};
const ShortFrameCommand kSetAntenna{short_command::kSetAntenna, kByte, 0, kNone};
const ShortFrameCommand kSetTime{short_command::kSetTime, kByte, 0, kNone};
const ShortFrameCommand kSetLed{short_command::kSetLed, kByte, 0, kNone};
const ShortFrameCommand kGetConfig{short_command::kGetConfig, 0, kRecordLength, kStatusZero};
const ShortFrameCommand kGetReaderVersion{short_command::kGetReaderVersion, 0, kRecordLength, kStatusZero};
const ShortFrameCommand kReadBasicParam{short_command::kReadBasicParam, 0, kBasicParamLength, kNone,
                                        kBasicParamSettleWait};
const ShortFrameCommand kWriteBasicParam{short_command::kWriteBasicParam, kBasicParamLength, 0, kNone};
const ShortFrameCommand kReadFactoryParameter{short_command::kReadFactoryParameter, 0, 0, kNone};
const ShortFrameCommand kStopAutoRead{short_command::kStopAutoRead, 0, 0, kNone};
// clang-format on

}  // namespace zendrik::short_frame
