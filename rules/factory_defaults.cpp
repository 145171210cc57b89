#include "rules/factory_defaults.h"

#include "rules/value_ranges.h"

namespace zendrik::rules {
namespace {

constexpr bool kDecidesOutcome = true;

FactoryStep Write(SettingCommand command, bool decidesOutcome = false) {
    return {FactoryAction::kWrite, command, decidesOutcome};
}

}  // namespace

FactoryDefaults FactoryDefaultsFor(uint8_t kind) {
    FactoryDefaults defaults;
    ReaderSettings& values = defaults.values;
    values.address = kFactoryAddress;
    values.wiegandInterval = kFactoryWiegandInterval;
    values.triggerTime = kFactoryTriggerTime;
    values.wiegandFormat = kFactoryWiegandFormat;
    values.workMode = kFactoryWorkMode;
    defaults.steps = {
        {FactoryAction::kReset, SettingCommand::kAddress, false},
        Write(SettingCommand::kAddress, kDecidesOutcome),
        Write(SettingCommand::kWiegandInterval),
        Write(SettingCommand::kTriggerTime),
        Write(SettingCommand::kWiegandFormat),
        Write(SettingCommand::kWorkMode),
    };
    const std::optional<ValueRange> power = PowerRangeOf(kind);
    if (!power) {
        return defaults;
    }
    values.power = static_cast<uint8_t>(power->max);
    if (kind == kChannelReaderKind) {
        values.frequency = ChannelPlan(kFirstChannel, kLastChannel);
        defaults.steps.push_back(Write(SettingCommand::kFrequency));
    } else {
        defaults.steps.push_back({FactoryAction::kWriteKeepingBand, SettingCommand::kFrequency, false});
    }
    defaults.steps.push_back(Write(SettingCommand::kPower, kDecidesOutcome));
    return defaults;
}

FrequencyPlan WholeBandPlan(int32_t currentLowerKhz) {
    const FrequencyBand& band = BandOfLowerFrequency(currentLowerKhz);
    return BandPlan(band.firstKhz, band.LastKhz());
}

std::string_view FactoryStepName(const FactoryStep& step) {
    return step.action == FactoryAction::kReset ? "factory reset" : CommandName(step.command);
}

}  // namespace zendrik::rules
