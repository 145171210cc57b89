#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/frequency_plan.h"
#include "rules/reader_codes.h"

// Every setting of the reader as one plain record, and the reader commands that read and write
// it: in which order the configuration tool reads them after connecting and writes them on Save.
namespace zendrik::rules {

// The settings as the reader reports them.
struct ReaderSettings {
    uint8_t buzzer = 0;
    uint8_t workMode = 0;
    uint8_t triggerTime = 0;      // seconds
    uint8_t wiegandInterval = 0;  // units of 100 ms
    OutputBytes output{};
    uint8_t wiegandFormat = 0;  // kWiegand26Code or kWiegand34Code
    uint8_t passwordCheck = 0;
    PasswordBytes password{};
    uint8_t readInterval = 0;  // seconds
    uint8_t power = 0;
    uint8_t address = 0;
    FrequencyPlan frequency;

    bool operator==(const ReaderSettings&) const = default;
};

// One get/set command pair of the reader and the part of ReaderSettings it carries. Declared in
// the order of the tool's Save Changes.
enum class SettingCommand {
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

// The reads after connecting, in the tool's order (without the version and serial number, which
// are no settings).
std::span<const SettingCommand> ReadOrder();

// What a command carries, for messages: "Wiegand output interval", "output settings", ...
std::string_view CommandName(SettingCommand command);

// The writes for a set of commands in the tool's Save order, each once; the tool writes the
// Wiegand output interval once more after the output settings, so a planned interval is sent
// again there.
std::vector<SettingCommand> WriteSequence(std::span<const SettingCommand> planned);

// The output settings record as it is written: the output switched on.
OutputBytes OutputBytesToWrite(const ReaderSettings& settings);

// The password as eight hex digits, and back. PasswordBytesOf reads the text by pairs from its
// start; a pair that is not hexadecimal (or is missing) gives 0, as the tool has always read it.
std::string PasswordText(std::span<const uint8_t, kPasswordBytes> password);
bool IsPasswordText(std::string_view text);
PasswordBytes PasswordBytesOf(std::string_view text);

}  // namespace zendrik::rules
