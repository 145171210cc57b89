#include "rules/settings_table.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "rules/value_ranges.h"

namespace zendrik::rules {
namespace {

constexpr uint8_t kOn = 1;
constexpr uint8_t kOff = 0;
constexpr uint8_t kForward = 0;
constexpr uint8_t kInverted = 1;

constexpr std::array<std::string_view, 2> kOnOffWords{"on", "off"};
constexpr std::array<std::string_view, 2> kWorkModeWords{"always", "trigger"};
constexpr std::array<std::string_view, 2> kWiegandWords{"26", "34"};
constexpr std::string_view kWiegandFormatName = "wiegand-format";
constexpr std::string_view kOutputLengthName = "output-length";
constexpr std::array<std::string_view, 2> kOrderWords{"forward", "inverted"};

// ---- helpers ------------------------------------------------------------------------------------

std::optional<int32_t> ParseInt(std::string_view text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Appended rather than `"\"" + std::string(text)`, whose insert at the front draws a false
// -Wrestrict from GCC 12 at -O3.
std::string Quoted(std::string_view text) {
    return std::string("\"").append(text).append("\"");
}

std::string ParseByte(std::string_view text, std::string_view name, ValueRange range, uint8_t& field) {
    const std::optional<int32_t> value = ParseInt(text);
    if (!value || !range.Contains(*value)) {
        return std::string(name) + " must be a number from " + std::to_string(range.min) + " to " +
               std::to_string(range.max) + ", got " + Quoted(text);
    }
    field = static_cast<uint8_t>(*value);
    return {};
}

// One of two words, each standing for its code.
std::string ParseChoice(std::string_view text, std::string_view name, std::array<std::string_view, 2> words,
                        std::array<uint8_t, 2> codes, uint8_t& field) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (text == words[i]) {
            field = codes[i];
            return {};
        }
    }
    return std::string(name) + " must be " + std::string(words[0]) + " or " + std::string(words[1]) +
           ", got " + Quoted(text);
}

std::string OnOff(uint8_t value) {
    return value != 0 ? "on" : "off";
}

std::string Unknown(uint8_t value) {
    return "unknown (" + std::to_string(value) + ")";
}

// "LOW-HIGH" as two numbers.
std::optional<std::pair<int32_t, int32_t>> ParseSpan(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<int32_t> low = ParseInt(text.substr(0, dash));
    const std::optional<int32_t> high = ParseInt(text.substr(dash + 1));
    if (!low || !high) {
        return std::nullopt;
    }
    return std::make_pair(*low, *high);
}

bool AnyKind(uint8_t) {
    return true;
}
bool BandKinds(uint8_t kind) {
    return kind != kChannelReaderKind;
}
bool ChannelKind(uint8_t kind) {
    return kind == kChannelReaderKind;
}

// The domains of the table's rows.
template <const ValueRange& range>
constexpr std::optional<ValueRange> Fixed(uint8_t) {
    return range;
}
constexpr ValueRange kChannelRange{kFirstChannel, kLastChannel};

constexpr SettingDomain Integers(std::optional<ValueRange> (*range)(uint8_t)) {
    return {SettingDomain::Type::kInteger, range, {}};
}
constexpr SettingDomain Choices(std::array<std::string_view, 2> words) {
    return {SettingDomain::Type::kChoice, nullptr, words};
}
constexpr SettingDomain kText{SettingDomain::Type::kText};

// ---- the settings -------------------------------------------------------------------------------

std::string FormatBuzzer(const ReaderSettings& s) {
    return OnOff(s.buzzer);
}
std::string ParseBuzzer(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "buzzer", kOnOffWords, {kOn, kOff}, s.buzzer);
}

std::string FormatWorkMode(const ReaderSettings& s) {
    switch (s.workMode) {
        case kWorkModeAlwaysRead:
            return "always";
        case kWorkModeTrigger:
            return "trigger";
        default:
            return Unknown(s.workMode);
    }
}
std::string ParseWorkMode(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "work-mode", kWorkModeWords, {kWorkModeAlwaysRead, kWorkModeTrigger},
                       s.workMode);
}

std::string FormatTriggerTime(const ReaderSettings& s) {
    return std::to_string(s.triggerTime);
}
std::string ParseTriggerTime(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "trigger-time", kTriggerTimeRange, s.triggerTime);
}

std::string FormatWiegandInterval(const ReaderSettings& s) {
    return std::to_string(s.wiegandInterval);
}
std::string ParseWiegandInterval(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "wiegand-interval", kWiegandIntervalRange, s.wiegandInterval);
}

std::string FormatWiegandFormat(const ReaderSettings& s) {
    switch (s.wiegandFormat) {
        case kWiegand26Code:
            return "26";
        case kWiegand34Code:
            return "34";
        default:
            return Unknown(s.wiegandFormat);
    }
}
std::string ParseWiegandFormat(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "wiegand-format", kWiegandWords, {kWiegand26Code, kWiegand34Code},
                       s.wiegandFormat);
}

std::string FormatOutputStart(const ReaderSettings& s) {
    return std::to_string(s.output[kOutputStart]);
}
std::string ParseOutputStart(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "output-start", kOutputStartRange, s.output[kOutputStart]);
}

std::string FormatOutputLength(const ReaderSettings& s) {
    return std::to_string(s.output[kOutputLength]);
}
std::string ParseOutputLength(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "output-length", kOutputLengthRange, s.output[kOutputLength]);
}

std::string FormatOutputOrder(const ReaderSettings& s) {
    return s.output[kOutputInverted] != 0 ? "inverted" : "forward";
}
std::string ParseOutputOrder(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "output-order", kOrderWords, {kForward, kInverted}, s.output[kOutputInverted]);
}

std::string FormatPassword(const ReaderSettings& s) {
    return PasswordText(s.password);
}
std::string ParsePassword(std::string_view text, uint8_t, ReaderSettings& s) {
    if (!IsPasswordText(text)) {
        return "password must be 8 hexadecimal digits, got " + Quoted(text);
    }
    s.password = PasswordBytesOf(text);
    return {};
}

std::string FormatPasswordCheck(const ReaderSettings& s) {
    return OnOff(s.passwordCheck);
}
std::string ParsePasswordCheck(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "password-check", kOnOffWords, {kOn, kOff}, s.passwordCheck);
}

std::string FormatAddress(const ReaderSettings& s) {
    return std::to_string(s.address);
}
std::string ParseAddress(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "address", kByteRange, s.address);
}

std::string FormatReadInterval(const ReaderSettings& s) {
    return std::to_string(s.readInterval);
}
std::string ParseReadInterval(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "read-interval", kByteRange, s.readInterval);
}

std::string FormatPower(const ReaderSettings& s) {
    return std::to_string(s.power);
}
std::string ParsePower(std::string_view text, uint8_t kind, ReaderSettings& s) {
    if (const std::optional<ValueRange> range = PowerRangeOf(kind)) {
        return ParseByte(text, "power", *range, s.power);
    }
    return "power cannot be set on a reader of kind " + std::to_string(kind);
}

std::string FormatFrequency(const ReaderSettings& s) {
    return std::to_string(s.frequency.first) + "-" + std::to_string(UpperFrequencyKhz(s.frequency));
}
std::string ParseFrequency(std::string_view text, uint8_t, ReaderSettings& s) {
    const auto span = ParseSpan(text);
    const FrequencyBand& band = BandOfLowerFrequency(span ? span->first : 0);
    if (!span || !OnBandGrid(band, span->first) || !OnBandGrid(band, span->second) ||
        span->second < span->first) {
        return "frequency must be LOW-HIGH in kHz within one band, 500 kHz apart: 902000-928000 (FCC) or "
               "865000-868000 (ETSI), got " +
               Quoted(text);
    }
    s.frequency = BandPlan(span->first, span->second);
    return {};
}

std::string FormatBand(const ReaderSettings& s) {
    return std::string(BandOfLowerFrequency(s.frequency.first).name);
}

std::string FormatChannels(const ReaderSettings& s) {
    return std::to_string(s.frequency.first) + "-" + std::to_string(s.frequency.second);
}
std::string ParseChannels(std::string_view text, uint8_t, ReaderSettings& s) {
    const auto span = ParseSpan(text);
    if (!span || !kChannelRange.Contains(span->first) || !kChannelRange.Contains(span->second)) {
        return "channels must be FIRST-LAST, each from 1 to 63, got " + Quoted(text);
    }
    s.frequency = ChannelPlan(span->first, span->second);
    return {};
}

constexpr std::array kSettings{
    Setting{"buzzer", "on|off", false, AnyKind, FormatBuzzer, ParseBuzzer, SettingCommand::kBuzzer,
            Choices(kOnOffWords)},
    Setting{"work-mode", "always|trigger", false, AnyKind, FormatWorkMode, ParseWorkMode,
            SettingCommand::kWorkMode, Choices(kWorkModeWords)},
    Setting{"trigger-time", "1-254 (seconds)", true, AnyKind, FormatTriggerTime, ParseTriggerTime,
            SettingCommand::kTriggerTime, Integers(Fixed<kTriggerTimeRange>)},
    Setting{"wiegand-interval", "1-20 (units of 100 ms)", true, AnyKind, FormatWiegandInterval,
            ParseWiegandInterval, SettingCommand::kWiegandInterval, Integers(Fixed<kWiegandIntervalRange>)},
    Setting{kWiegandFormatName, "26|34", true, AnyKind, FormatWiegandFormat, ParseWiegandFormat,
            SettingCommand::kWiegandFormat, Choices(kWiegandWords)},
    Setting{"output-start", "0-11 (first EPC byte put out)", true, AnyKind, FormatOutputStart,
            ParseOutputStart, SettingCommand::kOutputBytes, Integers(Fixed<kOutputStartRange>)},
    Setting{kOutputLengthName, "1-12 (EPC bytes put out; start + length at most 12)", true, AnyKind,
            FormatOutputLength, ParseOutputLength, SettingCommand::kOutputBytes,
            Integers(Fixed<kOutputLengthRange>)},
    Setting{"output-order", "forward|inverted", false, AnyKind, FormatOutputOrder, ParseOutputOrder,
            SettingCommand::kOutputBytes, Choices(kOrderWords)},
    Setting{"password", "8 hexadecimal digits", false, AnyKind, FormatPassword, ParsePassword,
            SettingCommand::kPassword, kText},
    Setting{"password-check", "on|off", false, AnyKind, FormatPasswordCheck, ParsePasswordCheck,
            SettingCommand::kPassword, Choices(kOnOffWords)},
    Setting{"address", "0-255", true, AnyKind, FormatAddress, ParseAddress, SettingCommand::kAddress,
            Integers(Fixed<kByteRange>)},
    Setting{"read-interval", "0-255 (seconds)", true, AnyKind, FormatReadInterval, ParseReadInterval,
            SettingCommand::kReadInterval, Integers(Fixed<kByteRange>)},
    Setting{"power", "0-33 (kind 0), 18-26 (kind 1), 0-63 (kind 2)", true, AnyKind, FormatPower, ParsePower,
            SettingCommand::kPower, Integers(PowerRangeOf)},
    Setting{"frequency", "LOW-HIGH in kHz: 902000-928000 (FCC) or 865000-868000 (ETSI), 500 kHz apart", false,
            BandKinds, FormatFrequency, ParseFrequency, SettingCommand::kFrequency, kText},
    Setting{"band", "fcc|etsi (follows from frequency)", false, BandKinds, FormatBand, nullptr, std::nullopt,
            kText},
    Setting{"channels", "FIRST-LAST, 1-63 (reader kind 2)", false, ChannelKind, FormatChannels, ParseChannels,
            SettingCommand::kFrequency, kText},
};

bool Named(const ChangePlan& plan, std::string_view name) {
    return std::any_of(plan.named.begin(), plan.named.end(),
                       [&](const Setting* s) { return s->name == name; });
}

bool Settable(const Setting& setting) {
    return setting.command && setting.parse != nullptr;
}

std::string SettingNames() {
    std::string names;
    for (const Setting& s : kSettings) {
        names += names.empty() ? "" : ", ";
        names += s.name;
    }
    return names;
}

std::string AddAssignment(std::string_view assignment, uint8_t kind, ChangePlan& plan) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return "expected NAME=VALUE, got " + Quoted(assignment);
    }
    const std::string_view name = assignment.substr(0, equals);
    const Setting* setting = FindSetting(name);
    if (setting == nullptr) {
        return "unknown setting " + Quoted(name) + " (settings: " + SettingNames() + ")";
    }
    if (!setting->shownFor(kind)) {
        return std::string(name) + " does not apply to a reader of kind " + std::to_string(kind);
    }
    if (!Settable(*setting)) {
        return std::string(name) + " cannot be set: " + std::string(setting->values);
    }
    if (Named(plan, name)) {
        return std::string(name) + " is given twice";
    }
    if (std::string error = setting->parse(assignment.substr(equals + 1), kind, plan.target);
        !error.empty()) {
        return error;
    }
    plan.named.push_back(setting);
    plan.commands.push_back(*setting->command);
    return {};
}

// A new Wiegand format puts out its own number of bytes unless a length is given as well, as the
// tool's Save does; the bytes put out must lie in the EPC window.
std::string SettleOutputBytes(ChangePlan& plan) {
    if (Named(plan, kWiegandFormatName) && !Named(plan, ChangedAlongWith(kWiegandFormatName))) {
        plan.target.output[kOutputLength] = WiegandBytes(plan.target.wiegandFormat);
        plan.commands.push_back(SettingCommand::kOutputBytes);
    }
    const bool writesOutput = std::find(plan.commands.begin(), plan.commands.end(),
                                        SettingCommand::kOutputBytes) != plan.commands.end();
    const int32_t start = plan.target.output[kOutputStart];
    const int32_t length = plan.target.output[kOutputLength];
    if (writesOutput && !OutputFitsWindow(start, length)) {
        return "output-start " + std::to_string(start) + " with output-length " + std::to_string(length) +
               " runs past the 12 EPC bytes (start + length must be at most 12)";
    }
    return {};
}

// The commands in the tool's order, each once.
void OrderCommands(ChangePlan& plan) {
    std::sort(plan.commands.begin(), plan.commands.end());
    plan.commands.erase(std::unique(plan.commands.begin(), plan.commands.end()), plan.commands.end());
}

}  // namespace

std::span<const Setting> AllSettings() {
    return kSettings;
}

std::vector<const Setting*> SettingsFor(uint8_t kind) {
    std::vector<const Setting*> shown;
    for (const Setting& setting : kSettings) {
        if (setting.shownFor(kind)) {
            shown.push_back(&setting);
        }
    }
    return shown;
}

const Setting* FindSetting(std::string_view name) {
    const auto found =
        std::find_if(kSettings.begin(), kSettings.end(), [&](const Setting& s) { return s.name == name; });
    return found == kSettings.end() ? nullptr : &*found;
}

std::string_view ChangedAlongWith(std::string_view name) {
    return name == kWiegandFormatName ? kOutputLengthName : std::string_view{};
}

std::string PlanChanges(std::span<const std::string> assignments, uint8_t kind, const ReaderSettings& current,
                        ChangePlan& plan) {
    plan = ChangePlan{{}, current, {}};
    if (assignments.empty()) {
        return "nothing to set: give NAME=VALUE";
    }
    for (const std::string& assignment : assignments) {
        if (std::string error = AddAssignment(assignment, kind, plan); !error.empty()) {
            return error;
        }
    }
    if (std::string error = SettleOutputBytes(plan); !error.empty()) {
        return error;
    }
    OrderCommands(plan);
    return {};
}

std::string PlanAllSettings(uint8_t kind, const ReaderSettings& settings, ChangePlan& plan) {
    std::vector<std::string> assignments;
    for (const Setting* setting : SettingsFor(kind)) {
        const bool unpowered = setting->command == SettingCommand::kPower && !PowerRangeOf(kind);
        if (Settable(*setting) && !unpowered) {
            assignments.push_back(std::string(setting->name) + "=" + setting->format(settings));
        }
    }
    return PlanChanges(assignments, kind, settings, plan);
}

std::vector<std::string> Mismatches(const ChangePlan& plan, const ReaderSettings& readBack) {
    std::vector<std::string> differences;
    for (const Setting* setting : plan.named) {
        const std::string wanted = setting->format(plan.target);
        const std::string got = setting->format(readBack);
        if (wanted != got) {
            differences.push_back(std::string(setting->name) + " was set to " + wanted +
                                  " but reads back as " + got);
        }
    }
    return differences;
}

}  // namespace zendrik::rules
