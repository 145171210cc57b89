#pragma once

#include "commands/short_frame_command.h"

namespace zendrik::short_frame {

extern const ShortFrameCommand kSetBaudRate;
extern const ShortFrameCommand kSetAntenna;
extern const ShortFrameCommand kSetTime;
extern const ShortFrameCommand kSetLed;
extern const ShortFrameCommand kGetConfig;
extern const ShortFrameCommand kGetReaderVersion;
extern const ShortFrameCommand kReadBasicParam;
extern const ShortFrameCommand kWriteBasicParam;
extern const ShortFrameCommand kReadFactoryParameter;
extern const ShortFrameCommand kStopAutoRead;

}  // namespace zendrik::short_frame
