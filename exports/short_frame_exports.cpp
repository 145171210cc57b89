// Exported short-frame functions: the reader settings reached through the second request family,
// which carries no reader address.
#include <span>

#include "commands/short_frame_command.h"
#include "commands/short_frame_table.h"
#include "exports/global_link.h"
#include "zendrik/zendrik.h"

using zendrik::OnGlobalLink;
using zendrik::ShortFrameCommand;
namespace short_frame = zendrik::short_frame;

namespace {

int32_t Run(const ShortFrameCommand& command, std::span<const uint8_t> data, std::span<uint8_t> output) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::RunShortFrameCommand(link, command, data, output);
    });
}

int32_t SetByte(const ShortFrameCommand& command, uint8_t value) {
    return Run(command, std::span(&value, 1), {});
}

// Sends command.dataLength bytes from the caller's buffer.
int32_t SetBytes(const ShortFrameCommand& command, const uint8_t* data) {
    if (data == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return Run(command, std::span(data, command.dataLength), {});
}

// Hands command.outputLength reply bytes to the caller's buffer.
int32_t GetBytes(const ShortFrameCommand& command, uint8_t* output) {
    if (output == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return Run(command, {}, std::span(output, command.outputLength));
}

}  // namespace

extern "C" {

ZENDRIK_API int32_t UhfSetBaudRate(int32_t /*unused*/, uint8_t baud) {
    return SetByte(short_frame::kSetBaudRate, baud);
}
ZENDRIK_API int32_t UhfSetAntenna(int32_t /*unused*/, uint8_t antenna) {
    return SetByte(short_frame::kSetAntenna, antenna);
}
ZENDRIK_API int32_t UhfSetTime(int32_t /*unused*/, uint8_t time) {
    return SetByte(short_frame::kSetTime, time);
}
ZENDRIK_API int32_t UhfSetLed(int32_t /*unused*/, uint8_t led) {
    return SetByte(short_frame::kSetLed, led);
}
ZENDRIK_API int32_t UhfGetConfig(int32_t /*unused*/, uint8_t* config) {
    return GetBytes(short_frame::kGetConfig, config);
}
ZENDRIK_API int32_t UhfGetReaderVerison(uint8_t* version) {
    return GetBytes(short_frame::kGetReaderVersion, version);
}
ZENDRIK_API int32_t UhfReadBasicParam(uint8_t* block) {
    return GetBytes(short_frame::kReadBasicParam, block);
}
ZENDRIK_API int32_t UhfWriteBasicParam(const uint8_t* block) {
    return SetBytes(short_frame::kWriteBasicParam, block);
}
ZENDRIK_API int32_t UhfReadFactoryParameter(void) {
    return Run(short_frame::kReadFactoryParameter, {}, {});
}

}  // extern "C"
