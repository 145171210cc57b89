#include "session/setting_commands.h"

#include <span>

#include "commands/frequency_region.h"
#include "commands/output_power.h"
#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "commands/password.h"
#include "zendrik/zendrik.h"
#include "rules/reader_codes.h"

namespace zendrik::session {
namespace {

using rules::SettingCommand;
constexpr uint8_t kAddress = rules::kAnyReaderAddress;

int32_t GetByte(Link& link, const ParameterCommand& command, uint8_t& value) {
    return RunParameterCommand(link, command, kAddress, {}, std::span(&value, 1));
}

int32_t SetByte(Link& link, const ParameterCommand& command, uint8_t value) {
    return RunParameterCommand(link, command, kAddress, std::span(&value, 1), {});
}

int32_t ReadFrequency(Link& link, rules::FrequencyPlan& plan) {
    FrequencyReading reading;
    const int32_t result = GetFrequencyRegion(link, kAddress, reading);
    // A read reports only the values of its layout; the others stay as they were.
    plan.region = reading.region.value_or(plan.region);
    plan.first = reading.first.value_or(plan.first);
    plan.second = reading.second.value_or(plan.second);
    plan.step = reading.step.value_or(plan.step);
    plan.span = reading.span.value_or(plan.span);
    return result;
}

int32_t WriteFrequency(Link& link, uint8_t kind, const rules::FrequencyPlan& plan) {
    const rules::FrequencyPlan write = rules::FrequencyWriteFor(kind, plan);
    return SetFrequencyRegion(link, kAddress,
                              FrequencySettings{write.first, write.second, write.step, write.span});
}

}  // namespace

int32_t ReadSetting(Link& link, SettingCommand command, rules::ReaderSettings& s) {
    switch (command) {
        case SettingCommand::kWiegandInterval:
            return GetByte(link, parameter::kGetWiegandInterval, s.wiegandInterval);
        case SettingCommand::kBuzzer:
            return GetByte(link, parameter::kGetBuzzer, s.buzzer);
        case SettingCommand::kTriggerTime:
            return GetByte(link, parameter::kGetTriggerTime, s.triggerTime);
        case SettingCommand::kWorkMode:
            return GetByte(link, parameter::kGetWorkMode, s.workMode);
        case SettingCommand::kWiegandFormat:
            return GetByte(link, parameter::kGetWiegandFormat, s.wiegandFormat);
        case SettingCommand::kOutputBytes:
            return RunParameterCommand(link, parameter::kGetWiegandOutBytes, kAddress, {}, s.output);
        case SettingCommand::kPassword:
            return GetPassword(link, kAddress, s.passwordCheck, s.password);
        case SettingCommand::kAddress:
            return GetByte(link, parameter::kGetAddress, s.address);
        case SettingCommand::kReadInterval:
            return GetByte(link, parameter::kGetReadTagInterval, s.readInterval);
        case SettingCommand::kFrequency:
            return ReadFrequency(link, s.frequency);
        case SettingCommand::kPower:
            break;
    }
    return GetOutPower(link, kAddress, s.power);
}

int32_t WriteSetting(Link& link, SettingCommand command, uint8_t kind, const rules::ReaderSettings& s) {
    switch (command) {
        case SettingCommand::kWiegandInterval:
            return SetByte(link, parameter::kSetWiegandInterval, s.wiegandInterval);
        case SettingCommand::kBuzzer:
            return SetByte(link, parameter::kSetBuzzer, s.buzzer);
        case SettingCommand::kTriggerTime:
            return SetByte(link, parameter::kSetTriggerTime, s.triggerTime);
        case SettingCommand::kWorkMode:
            return SetByte(link, parameter::kSetWorkMode, s.workMode);
        case SettingCommand::kWiegandFormat:
            return SetByte(link, parameter::kSetWiegandFormat, s.wiegandFormat);
        case SettingCommand::kOutputBytes: {
            const rules::OutputBytes output = rules::OutputBytesToWrite(s);
            return RunParameterCommand(link, parameter::kSetWiegandOutBytes, kAddress, output, {});
        }
        case SettingCommand::kPassword:
            return SetPassword(link, kAddress, s.passwordCheck, s.password);
        case SettingCommand::kAddress:
            return SetByte(link, parameter::kSetAddress, s.address);
        case SettingCommand::kReadInterval:
            return SetByte(link, parameter::kSetReadTagInterval, s.readInterval);
        case SettingCommand::kFrequency:
            return WriteFrequency(link, kind, s.frequency);
        case SettingCommand::kPower:
            break;
    }
    return SetOutPower(link, kAddress, s.power);
}

int32_t FactoryReset(Link& link) {
    return RunParameterCommand(link, parameter::kFactoryDefault, kAddress, {}, {});
}

int32_t ReadAllSettings(Link& link, rules::ReaderSettings& settings, SettingCommand& failed) {
    for (const SettingCommand command : rules::ReadOrder()) {
        if (const int32_t result = ReadSetting(link, command, settings); result != ZENDRIK_OK) {
            failed = command;
            return result;
        }
    }
    return ZENDRIK_OK;
}

}  // namespace zendrik::session
