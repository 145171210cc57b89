#include "rules/reader_settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "rules/card_number.h"

namespace zendrik::rules {
namespace {

constexpr std::size_t kHexPairDigits = 2;
constexpr int kHexadecimal = 16;

constexpr std::array kReadOrder{
    SettingCommand::kBuzzer,          SettingCommand::kWorkMode,     SettingCommand::kTriggerTime,
    SettingCommand::kWiegandInterval, SettingCommand::kOutputBytes,  SettingCommand::kWiegandFormat,
    SettingCommand::kPassword,        SettingCommand::kReadInterval, SettingCommand::kPower,
    SettingCommand::kAddress,         SettingCommand::kFrequency,
};

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::span<const SettingCommand> ReadOrder() {
    return kReadOrder;
}

std::string_view CommandName(SettingCommand command) {
    switch (command) {
        case SettingCommand::kWiegandInterval:
            return "Wiegand output interval";
        case SettingCommand::kBuzzer:
            return "buzzer";
        case SettingCommand::kTriggerTime:
            return "trigger time";
        case SettingCommand::kWorkMode:
            return "work mode";
        case SettingCommand::kWiegandFormat:
            return "Wiegand format";
        case SettingCommand::kOutputBytes:
            return "output settings";
        case SettingCommand::kPassword:
            return "password";
        case SettingCommand::kAddress:
            return "address";
        case SettingCommand::kReadInterval:
            return "read interval";
        case SettingCommand::kFrequency:
            return "frequency plan";
        case SettingCommand::kPower:
            break;
    }
    return "output power";
}

std::vector<SettingCommand> WriteSequence(std::span<const SettingCommand> planned) {
    std::vector<SettingCommand> unique(planned.begin(), planned.end());
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    const bool interval = std::binary_search(unique.begin(), unique.end(), SettingCommand::kWiegandInterval);
    std::vector<SettingCommand> writes;
    for (const SettingCommand command : unique) {
        writes.push_back(command);
        if (command == SettingCommand::kOutputBytes && interval) {
            writes.push_back(SettingCommand::kWiegandInterval);
        }
    }
    return writes;
}

OutputBytes OutputBytesToWrite(const ReaderSettings& settings) {
    OutputBytes output = settings.output;
    output[kOutputEnable] = kOutputEnabled;
    return output;
}

std::string PasswordText(std::span<const uint8_t, kPasswordBytes> password) {
    return HexText(password);
}

bool IsPasswordText(std::string_view text) {
    return text.size() == kPasswordBytes * kHexPairDigits &&
           std::all_of(text.begin(), text.end(), IsHexDigit);
}

PasswordBytes PasswordBytesOf(std::string_view text) {
    PasswordBytes bytes{};
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        const std::size_t offset = index * kHexPairDigits;
        if (offset >= text.size()) {
            break;
        }
        const std::string_view pair = text.substr(offset, kHexPairDigits);
        uint8_t value = 0;
        const auto [end, error] =
            std::from_chars(pair.data(), pair.data() + pair.size(), value, kHexadecimal);
        bytes[index] = error == std::errc{} && end == pair.data() + pair.size() ? value : 0;
    }
    return bytes;
}

}  // namespace zendrik::rules
