#include "cli/reader_settings.h"

#include <zendrik.h>

#include <functional>
#include <string_view>

#include "cli/reader_session.h"

namespace zendrik::cli {
namespace {

// The frequency layouts as the tool names them: a band in kHz, or the channels of reader kind 2.
constexpr int32_t kBandRegion = 4;
constexpr int32_t kChannelRegion = 5;
constexpr uint8_t kOutputEnabled = 1;

struct ReadItem {
    std::string_view name;
    std::function<int32_t(ReaderSettings&)> read;
};

int32_t ReadFrequency(ReaderSettings& s) {
    FrequencyPlan& plan = s.frequency;
    return UhfGetFrequencyRegion(kReaderAddress, &plan.region, &plan.first, &plan.second, &plan.step,
                                 &plan.span);
}

}  // namespace

int32_t ReadSettings(ReaderSettings& settings, std::string& failedItem) {
    const ReadItem items[] = {
        {"buzzer", [](ReaderSettings& s) { return UhfGetBuzzer(kReaderAddress, &s.buzzer); }},
        {"work mode", [](ReaderSettings& s) { return UhfGetWorkMode(kReaderAddress, &s.workMode); }},
        {"trigger time", [](ReaderSettings& s) { return UhfGetTriggerTime(kReaderAddress, &s.triggerTime); }},
        {"Wiegand output interval",
         [](ReaderSettings& s) { return UhfGetWgIntervalTime(kReaderAddress, &s.wiegandInterval); }},
        {"output settings",
         [](ReaderSettings& s) { return UhfGetWgOutByte(kReaderAddress, s.output.data()); }},
        {"Wiegand format", [](ReaderSettings& s) { return UhfGetWeigand(kReaderAddress, &s.wiegandFormat); }},
        {"password",
         [](ReaderSettings& s) {
             return UhfGetPassword(kReaderAddress, &s.passwordCheck, s.password.data());
         }},
        {"read interval",
         [](ReaderSettings& s) { return UhfGetReadTagIntervalTime(kReaderAddress, &s.readInterval); }},
        {"output power", [](ReaderSettings& s) { return UhfGetOutPower(kReaderAddress, &s.power); }},
        {"address", [](ReaderSettings& s) { return UhfGetAddress(kReaderAddress, &s.address); }},
        {"frequency plan", ReadFrequency},
    };
    for (const ReadItem& item : items) {
        if (const int32_t result = item.read(settings); result != ZENDRIK_OK) {
            failedItem = item.name;
            return result;
        }
    }
    return ZENDRIK_OK;
}

std::string WriteStepName(WriteStep step) {
    switch (step) {
        case WriteStep::kWiegandInterval:
            return "Wiegand output interval";
        case WriteStep::kBuzzer:
            return "buzzer";
        case WriteStep::kTriggerTime:
            return "trigger time";
        case WriteStep::kWorkMode:
            return "work mode";
        case WriteStep::kWiegandFormat:
            return "Wiegand format";
        case WriteStep::kOutputBytes:
            return "output settings";
        case WriteStep::kPassword:
            return "password";
        case WriteStep::kAddress:
            return "address";
        case WriteStep::kReadInterval:
            return "read interval";
        case WriteStep::kFrequency:
            return "frequency plan";
        case WriteStep::kPower:
            break;
    }
    return "output power";
}

int32_t WriteSetting(WriteStep step, uint8_t kind, const ReaderSettings& s) {
    switch (step) {
        case WriteStep::kWiegandInterval:
            return UhfSetWgIntervalTime(kReaderAddress, s.wiegandInterval);
        case WriteStep::kBuzzer:
            return UhfSetBuzzer(kReaderAddress, s.buzzer);
        case WriteStep::kTriggerTime:
            return UhfSetTriggerTime(kReaderAddress, s.triggerTime);
        case WriteStep::kWorkMode:
            return UhfSetWorkMode(kReaderAddress, s.workMode);
        case WriteStep::kWiegandFormat:
            return UhfSetWeigand(kReaderAddress, s.wiegandFormat);
        case WriteStep::kOutputBytes: {
            OutputBytes output = s.output;
            output[kOutputEnable] = kOutputEnabled;
            return UhfSetWgOutByte(kReaderAddress, output.data());
        }
        case WriteStep::kPassword:
            return UhfSetPassword(kReaderAddress, s.passwordCheck, s.password.data());
        case WriteStep::kAddress:
            return UhfSetAddress(kReaderAddress, s.address);
        case WriteStep::kReadInterval:
            return UhfSetReadTagIntervalTime(kReaderAddress, s.readInterval);
        case WriteStep::kFrequency:
            if (kind == kChannelReaderKind) {
                return UhfSetFrequencyRegion(kReaderAddress, kChannelRegion, s.frequency.first,
                                             s.frequency.second, 0, 0);
            }
            return UhfSetFrequencyRegion(kReaderAddress, kBandRegion, s.frequency.first, s.frequency.second,
                                         kBandStepKhz, s.frequency.span);
        case WriteStep::kPower:
            break;
    }
    return UhfSetOutPower(kReaderAddress, s.power);
}

}  // namespace zendrik::cli
