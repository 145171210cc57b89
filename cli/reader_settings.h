#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zendrik::cli {

// The Wiegand output settings record: which EPC bytes the reader puts out, and in which order.
inline constexpr std::size_t kOutputEnable = 0;
inline constexpr std::size_t kOutputStart = 1;
inline constexpr std::size_t kOutputLength = 2;
inline constexpr std::size_t kOutputInverted = 3;
using OutputBytes = std::array<uint8_t, 4>;

// Reader kind 2 plans its frequencies by channel numbers, every other kind by a band in kHz.
inline constexpr uint8_t kChannelReaderKind = 2;
// The bands' channel spacing, and the unit of a plan's span.
inline constexpr int32_t kBandStepKhz = 500;

// The frequency plan as UhfGetFrequencyRegion describes it. Reader kind 2 counts channels
// (first, second); the other kinds give the lower frequency in kHz (first), the channel step and
// the span in 500 kHz steps.
struct FrequencyPlan {
    uint8_t region = 0;
    int32_t first = 0;
    int32_t second = 0;
    int32_t step = 0;
    uint8_t span = 0;
};

// Every setting of the reader that the configuration tool shows, as the reader reports them.
struct ReaderSettings {
    uint8_t buzzer = 0;
    uint8_t workMode = 0;
    uint8_t triggerTime = 0;      // seconds
    uint8_t wiegandInterval = 0;  // units of 100 ms
    OutputBytes output{};
    uint8_t wiegandFormat = 0;  // the bit count written as two hex digits: 0x26 or 0x34
    uint8_t passwordCheck = 0;
    std::array<uint8_t, 4> password{};
    uint8_t readInterval = 0;  // seconds
    uint8_t power = 0;
    uint8_t address = 0;
    FrequencyPlan frequency;
};

// Reads every setting, in the order the tool reads them after connecting. On failure `failedItem`
// names the setting that could not be read and the library's code is returned.
int32_t ReadSettings(ReaderSettings& settings, std::string& failedItem);

// The writes of Save Changes, in the order the tool makes them.
enum class WriteStep {
    kWiegandInterval,
    kBuzzer,
    kTriggerTime,
    kWorkMode,
    kWiegandFormat,
    kOutputBytes,
    kPassword,
    kAddress,
    kReadInterval,
    kFrequency,
    kPower,
};

// What a write step is called in messages ("output settings").
std::string WriteStepName(WriteStep step);

// Writes the part of `settings` that `step` covers; the library's result code.
int32_t WriteSetting(WriteStep step, uint8_t kind, const ReaderSettings& settings);

}  // namespace zendrik::cli
