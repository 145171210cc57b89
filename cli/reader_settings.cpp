#include "cli/reader_settings.h"

#include <zendrik.h>

#include "cli/reader_session.h"

namespace zendrik::cli {

using rules::SettingCommand;

int32_t ReadSetting(SettingCommand command, rules::ReaderSettings& s) {
    switch (command) {
        case SettingCommand::kWiegandInterval:
            return UhfGetWgIntervalTime(kReaderAddress, &s.wiegandInterval);
        case SettingCommand::kBuzzer:
            return UhfGetBuzzer(kReaderAddress, &s.buzzer);
        case SettingCommand::kTriggerTime:
            return UhfGetTriggerTime(kReaderAddress, &s.triggerTime);
        case SettingCommand::kWorkMode:
            return UhfGetWorkMode(kReaderAddress, &s.workMode);
        case SettingCommand::kWiegandFormat:
            return UhfGetWeigand(kReaderAddress, &s.wiegandFormat);
        case SettingCommand::kOutputBytes:
            return UhfGetWgOutByte(kReaderAddress, s.output.data());
        case SettingCommand::kPassword:
            return UhfGetPassword(kReaderAddress, &s.passwordCheck, s.password.data());
        case SettingCommand::kAddress:
            return UhfGetAddress(kReaderAddress, &s.address);
        case SettingCommand::kReadInterval:
            return UhfGetReadTagIntervalTime(kReaderAddress, &s.readInterval);
        case SettingCommand::kFrequency: {
            rules::FrequencyPlan& plan = s.frequency;
            return UhfGetFrequencyRegion(kReaderAddress, &plan.region, &plan.first, &plan.second, &plan.step,
                                         &plan.span);
        }
        case SettingCommand::kPower:
            break;
    }
    return UhfGetOutPower(kReaderAddress, &s.power);
}

int32_t ReadSettings(rules::ReaderSettings& settings, std::string& failedItem) {
    for (const SettingCommand command : rules::ReadOrder()) {
        if (const int32_t result = ReadSetting(command, settings); result != ZENDRIK_OK) {
            failedItem = rules::CommandName(command);
            return result;
        }
    }
    return ZENDRIK_OK;
}

int32_t WriteSetting(SettingCommand command, uint8_t kind, const rules::ReaderSettings& s) {
    switch (command) {
        case SettingCommand::kWiegandInterval:
            return UhfSetWgIntervalTime(kReaderAddress, s.wiegandInterval);
        case SettingCommand::kBuzzer:
            return UhfSetBuzzer(kReaderAddress, s.buzzer);
        case SettingCommand::kTriggerTime:
            return UhfSetTriggerTime(kReaderAddress, s.triggerTime);
        case SettingCommand::kWorkMode:
            return UhfSetWorkMode(kReaderAddress, s.workMode);
        case SettingCommand::kWiegandFormat:
            return UhfSetWeigand(kReaderAddress, s.wiegandFormat);
        case SettingCommand::kOutputBytes:
            return UhfSetWgOutByte(kReaderAddress, rules::OutputBytesToWrite(s).data());
        case SettingCommand::kPassword:
            return UhfSetPassword(kReaderAddress, s.passwordCheck, s.password.data());
        case SettingCommand::kAddress:
            return UhfSetAddress(kReaderAddress, s.address);
        case SettingCommand::kReadInterval:
            return UhfSetReadTagIntervalTime(kReaderAddress, s.readInterval);
        case SettingCommand::kFrequency: {
            const rules::FrequencyPlan plan = rules::FrequencyWriteFor(kind, s.frequency);
            return UhfSetFrequencyRegion(kReaderAddress, plan.region, plan.first, plan.second, plan.step,
                                         plan.span);
        }
        case SettingCommand::kPower:
            break;
    }
    return UhfSetOutPower(kReaderAddress, s.power);
}

}  // namespace zendrik::cli
