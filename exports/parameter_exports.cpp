// Exported standard-frame parameter functions: one reader setting each, read or written through the
// command table.
#include <span>

#include "commands/output_power.h"
#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "commands/password.h"
#include "exports/global_link.h"
#include "zendrik/zendrik.h"

using zendrik::OnGlobalLink;
using zendrik::ParameterCommand;
namespace parameter = zendrik::parameter;

namespace {

int32_t Run(const ParameterCommand& command, uint8_t address, std::span<const uint8_t> data,
            std::span<uint8_t> output) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::RunParameterCommand(link, command, address, data, output);
    });
}

int32_t SetByte(const ParameterCommand& command, uint8_t address, uint8_t value) {
    return Run(command, address, std::span(&value, 1), {});
}

// Sends command.dataLength bytes from the caller's buffer.
int32_t SetBytes(const ParameterCommand& command, uint8_t address, const uint8_t* data) {
    if (data == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return Run(command, address, std::span(data, command.dataLength), {});
}

// Hands command.outputLength reply data bytes to the caller's buffer.
int32_t GetBytes(const ParameterCommand& command, uint8_t address, uint8_t* output) {
    if (output == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return Run(command, address, {}, std::span(output, command.outputLength));
}

}  // namespace

extern "C" {

ZENDRIK_API int32_t UhfSetWorkMode(uint8_t address, uint8_t mode) {
    return SetByte(parameter::kSetWorkMode, address, mode);
}
ZENDRIK_API int32_t UhfGetWorkMode(uint8_t address, uint8_t* mode) {
    return GetBytes(parameter::kGetWorkMode, address, mode);
}
ZENDRIK_API int32_t UhfSetBuzzer(uint8_t address, uint8_t on) {
    return SetByte(parameter::kSetBuzzer, address, on);
}
ZENDRIK_API int32_t UhfGetBuzzer(uint8_t address, uint8_t* on) {
    return GetBytes(parameter::kGetBuzzer, address, on);
}
ZENDRIK_API int32_t UhfSetWeigand(uint8_t address, uint8_t format) {
    return SetByte(parameter::kSetWiegandFormat, address, format);
}
ZENDRIK_API int32_t UhfGetWeigand(uint8_t address, uint8_t* format) {
    return GetBytes(parameter::kGetWiegandFormat, address, format);
}
ZENDRIK_API int32_t UhfSetTriggerTime(uint8_t address, uint8_t seconds) {
    return SetByte(parameter::kSetTriggerTime, address, seconds);
}
ZENDRIK_API int32_t UhfGetTriggerTime(uint8_t address, uint8_t* seconds) {
    return GetBytes(parameter::kGetTriggerTime, address, seconds);
}
ZENDRIK_API int32_t UhfSetWgIntervalTime(uint8_t address, uint8_t interval) {
    return SetByte(parameter::kSetWiegandInterval, address, interval);
}
ZENDRIK_API int32_t UhfGetWgIntervalTime(uint8_t address, uint8_t* interval) {
    return GetBytes(parameter::kGetWiegandInterval, address, interval);
}
ZENDRIK_API int32_t UhfSetReadTagIntervalTime(uint8_t address, uint8_t seconds) {
    return SetByte(parameter::kSetReadTagInterval, address, seconds);
}
ZENDRIK_API int32_t UhfGetReadTagIntervalTime(uint8_t address, uint8_t* seconds) {
    return GetBytes(parameter::kGetReadTagInterval, address, seconds);
}
ZENDRIK_API int32_t UhfSetWgOutByte(uint8_t address, const uint8_t* settings) {
    return SetBytes(parameter::kSetWiegandOutBytes, address, settings);
}
ZENDRIK_API int32_t UhfGetWgOutByte(uint8_t address, uint8_t* settings) {
    return GetBytes(parameter::kGetWiegandOutBytes, address, settings);
}

ZENDRIK_API int32_t UhfSetPassword(uint8_t address, uint8_t enable, const uint8_t* password) {
    if (password == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::SetPassword(
            link, address, enable,
            std::span<const uint8_t, zendrik::kPasswordLength>(password, zendrik::kPasswordLength));
    });
}
ZENDRIK_API int32_t UhfGetPassword(uint8_t address, uint8_t* enable, uint8_t* password) {
    if (enable == nullptr || password == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::GetPassword(
            link, address, *enable,
            std::span<uint8_t, zendrik::kPasswordLength>(password, zendrik::kPasswordLength));
    });
}

ZENDRIK_API int32_t UhfSetAddress(uint8_t address, uint8_t newAddress) {
    return SetByte(parameter::kSetAddress, address, newAddress);
}
ZENDRIK_API int32_t UhfGetAddress(uint8_t address, uint8_t* readerAddress) {
    return GetBytes(parameter::kGetAddress, address, readerAddress);
}
ZENDRIK_API int32_t UhfSetOutPower(uint8_t address, uint8_t power) {
    return OnGlobalLink<int32_t>(
        ZENDRIK_ERR_VERIFY, [&](zendrik::Link& link) { return zendrik::SetOutPower(link, address, power); });
}
ZENDRIK_API int32_t UhfGetOutPower(uint8_t address, uint8_t* power) {
    return GetBytes(parameter::kGetOutPower, address, power);
}
ZENDRIK_API int32_t UhfFactoryDefault(uint8_t address) {
    return Run(parameter::kFactoryDefault, address, {}, {});
}

}  // extern "C"
