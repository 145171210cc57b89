#include "cli/settings_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace zendrik::cli {
namespace {

// The tool's ranges.
constexpr int32_t kWiegandIntervalMin = 1;
constexpr int32_t kWiegandIntervalMax = 20;
// The tool's caption says 1-255, but it refuses 255.
constexpr int32_t kTriggerTimeMin = 1;
constexpr int32_t kTriggerTimeMax = 254;
constexpr int32_t kByteMax = 255;
// The output settings pick their bytes out of the 12-byte EPC window of a tag read.
constexpr int32_t kEpcWindowBytes = 12;

constexpr uint8_t kWorkModeAlways = 0;
constexpr uint8_t kWorkModeTrigger = 1;
constexpr uint8_t kWiegand26Code = 0x26;
constexpr uint8_t kWiegand34Code = 0x34;
constexpr uint8_t kWiegand26Bytes = 3;
constexpr uint8_t kWiegand34Bytes = 4;
constexpr std::size_t kPasswordDigits = 8;

struct Band {
    std::string_view name;
    int32_t firstKhz;
    int32_t lastKhz;
};
constexpr Band kFccBand{"fcc", 902000, 928000};
constexpr Band kEtsiBand{"etsi", 865000, 868000};
// Reader kind 2's channel list: the 63 channels of its first frequency region.
constexpr int32_t kFirstChannel = 1;
constexpr int32_t kLastChannel = 63;

struct PowerRange {
    uint8_t kind;
    int32_t min;
    int32_t max;
};
constexpr std::array kPowerRanges{PowerRange{0, 0, 33}, PowerRange{1, 18, 26}, PowerRange{2, 0, 63}};

// ---- helpers ------------------------------------------------------------------------------------

std::optional<int32_t> ParseInt(std::string_view text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string RangeError(std::string_view name, int32_t min, int32_t max, std::string_view text) {
    return std::string(name) + " must be a number from " + std::to_string(min) + " to " +
           std::to_string(max) + ", got \"" + std::string(text) + "\"";
}

std::string ParseByte(std::string_view text, std::string_view name, int32_t min, int32_t max,
                      uint8_t& field) {
    const std::optional<int32_t> value = ParseInt(text);
    if (!value || *value < min || *value > max) {
        return RangeError(name, min, max, text);
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
           ", got \"" + std::string(text) + "\"";
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

const Band& BandOf(int32_t lowerKhz) {
    return lowerKhz < kFccBand.firstKhz ? kEtsiBand : kFccBand;
}

bool OnBandGrid(const Band& band, int32_t khz) {
    return khz >= band.firstKhz && khz <= band.lastKhz && (khz - band.firstKhz) % kBandStepKhz == 0;
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

// ---- the settings -------------------------------------------------------------------------------

std::string FormatBuzzer(const ReaderSettings& s) {
    return OnOff(s.buzzer);
}
std::string ParseBuzzer(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "buzzer", {"on", "off"}, {1, 0}, s.buzzer);
}

std::string FormatWorkMode(const ReaderSettings& s) {
    switch (s.workMode) {
        case kWorkModeAlways:
            return "always";
        case kWorkModeTrigger:
            return "trigger";
        default:
            return Unknown(s.workMode);
    }
}
std::string ParseWorkMode(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "work-mode", {"always", "trigger"}, {kWorkModeAlways, kWorkModeTrigger},
                       s.workMode);
}

std::string FormatTriggerTime(const ReaderSettings& s) {
    return std::to_string(s.triggerTime);
}
std::string ParseTriggerTime(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "trigger-time", kTriggerTimeMin, kTriggerTimeMax, s.triggerTime);
}

std::string FormatWiegandInterval(const ReaderSettings& s) {
    return std::to_string(s.wiegandInterval);
}
std::string ParseWiegandInterval(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "wiegand-interval", kWiegandIntervalMin, kWiegandIntervalMax, s.wiegandInterval);
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
    return ParseChoice(text, "wiegand-format", {"26", "34"}, {kWiegand26Code, kWiegand34Code},
                       s.wiegandFormat);
}

std::string FormatOutputStart(const ReaderSettings& s) {
    return std::to_string(s.output[kOutputStart]);
}
std::string ParseOutputStart(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "output-start", 0, kEpcWindowBytes - 1, s.output[kOutputStart]);
}

std::string FormatOutputLength(const ReaderSettings& s) {
    return std::to_string(s.output[kOutputLength]);
}
std::string ParseOutputLength(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "output-length", 1, kEpcWindowBytes, s.output[kOutputLength]);
}

std::string FormatOutputOrder(const ReaderSettings& s) {
    return s.output[kOutputInverted] != 0 ? "inverted" : "forward";
}
std::string ParseOutputOrder(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "output-order", {"forward", "inverted"}, {0, 1}, s.output[kOutputInverted]);
}

std::string FormatPassword(const ReaderSettings& s) {
    std::string text;
    for (const uint8_t byte : s.password) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}
std::string ParsePassword(std::string_view text, uint8_t, ReaderSettings& s) {
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (text.size() != kPasswordDigits || !std::all_of(text.begin(), text.end(), isHex)) {
        return "password must be 8 hexadecimal digits, got \"" + std::string(text) + "\"";
    }
    for (std::size_t i = 0; i < s.password.size(); ++i) {
        const std::string_view pair = text.substr(2 * i, 2);
        std::from_chars(pair.data(), pair.data() + pair.size(), s.password[i], 16);
    }
    return {};
}

std::string FormatPasswordCheck(const ReaderSettings& s) {
    return OnOff(s.passwordCheck);
}
std::string ParsePasswordCheck(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseChoice(text, "password-check", {"on", "off"}, {1, 0}, s.passwordCheck);
}

std::string FormatAddress(const ReaderSettings& s) {
    return std::to_string(s.address);
}
std::string ParseAddress(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "address", 0, kByteMax, s.address);
}

std::string FormatReadInterval(const ReaderSettings& s) {
    return std::to_string(s.readInterval);
}
std::string ParseReadInterval(std::string_view text, uint8_t, ReaderSettings& s) {
    return ParseByte(text, "read-interval", 0, kByteMax, s.readInterval);
}

std::string FormatPower(const ReaderSettings& s) {
    return std::to_string(s.power);
}
std::string ParsePower(std::string_view text, uint8_t kind, ReaderSettings& s) {
    for (const PowerRange& range : kPowerRanges) {
        if (range.kind == kind) {
            return ParseByte(text, "power", range.min, range.max, s.power);
        }
    }
    return "power cannot be set on a reader of kind " + std::to_string(kind);
}

std::string FormatFrequency(const ReaderSettings& s) {
    const int32_t upper = s.frequency.first + s.frequency.span * kBandStepKhz;
    return std::to_string(s.frequency.first) + "-" + std::to_string(upper);
}
std::string ParseFrequency(std::string_view text, uint8_t, ReaderSettings& s) {
    const auto span = ParseSpan(text);
    const Band& band = BandOf(span ? span->first : 0);
    if (!span || !OnBandGrid(band, span->first) || !OnBandGrid(band, span->second) ||
        span->second < span->first) {
        return "frequency must be LOW-HIGH in kHz within one band, 500 kHz apart: 902000-928000 (FCC) or "
               "865000-868000 (ETSI), got \"" +
               std::string(text) + "\"";
    }
    s.frequency = FrequencyPlan{0, span->first, span->second, kBandStepKhz,
                                static_cast<uint8_t>((span->second - span->first) / kBandStepKhz)};
    return {};
}

std::string FormatBand(const ReaderSettings& s) {
    return std::string(BandOf(s.frequency.first).name);
}

std::string FormatChannels(const ReaderSettings& s) {
    return std::to_string(s.frequency.first) + "-" + std::to_string(s.frequency.second);
}
std::string ParseChannels(std::string_view text, uint8_t, ReaderSettings& s) {
    const auto span = ParseSpan(text);
    const auto inList = [](int32_t channel) { return channel >= kFirstChannel && channel <= kLastChannel; };
    if (!span || !inList(span->first) || !inList(span->second)) {
        return "channels must be FIRST-LAST, each from 1 to 63, got \"" + std::string(text) + "\"";
    }
    s.frequency = FrequencyPlan{0, span->first, span->second, 0, 0};
    return {};
}

constexpr std::array kSettings{
    Setting{"buzzer", "on|off", false, AnyKind, FormatBuzzer, ParseBuzzer, WriteStep::kBuzzer},
    Setting{"work-mode", "always|trigger", false, AnyKind, FormatWorkMode, ParseWorkMode,
            WriteStep::kWorkMode},
    Setting{"trigger-time", "1-254 (seconds)", true, AnyKind, FormatTriggerTime, ParseTriggerTime,
            WriteStep::kTriggerTime},
    Setting{"wiegand-interval", "1-20 (units of 100 ms)", true, AnyKind, FormatWiegandInterval,
            ParseWiegandInterval, WriteStep::kWiegandInterval},
    Setting{"wiegand-format", "26|34", true, AnyKind, FormatWiegandFormat, ParseWiegandFormat,
            WriteStep::kWiegandFormat},
    Setting{"output-start", "0-11 (first EPC byte put out)", true, AnyKind, FormatOutputStart,
            ParseOutputStart, WriteStep::kOutputBytes},
    Setting{"output-length", "1-12 (EPC bytes put out; start + length at most 12)", true, AnyKind,
            FormatOutputLength, ParseOutputLength, WriteStep::kOutputBytes},
    Setting{"output-order", "forward|inverted", false, AnyKind, FormatOutputOrder, ParseOutputOrder,
            WriteStep::kOutputBytes},
    Setting{"password", "8 hexadecimal digits", false, AnyKind, FormatPassword, ParsePassword,
            WriteStep::kPassword},
    Setting{"password-check", "on|off", false, AnyKind, FormatPasswordCheck, ParsePasswordCheck,
            WriteStep::kPassword},
    Setting{"address", "0-255", true, AnyKind, FormatAddress, ParseAddress, WriteStep::kAddress},
    Setting{"read-interval", "0-255 (seconds)", true, AnyKind, FormatReadInterval, ParseReadInterval,
            WriteStep::kReadInterval},
    Setting{"power", "0-33 (kind 0), 18-26 (kind 1), 0-63 (kind 2)", true, AnyKind, FormatPower, ParsePower,
            WriteStep::kPower},
    Setting{"frequency", "LOW-HIGH in kHz: 902000-928000 (FCC) or 865000-868000 (ETSI), 500 kHz apart", false,
            BandKinds, FormatFrequency, ParseFrequency, WriteStep::kFrequency},
    Setting{"band", "fcc|etsi (follows from frequency)", false, BandKinds, FormatBand, nullptr, std::nullopt},
    Setting{"channels", "FIRST-LAST, 1-63 (reader kind 2)", false, ChannelKind, FormatChannels, ParseChannels,
            WriteStep::kFrequency},
};

bool Named(const ChangePlan& plan, std::string_view name) {
    return std::any_of(plan.named.begin(), plan.named.end(),
                       [&](const Setting* s) { return s->name == name; });
}

std::string AddAssignment(std::string_view assignment, uint8_t kind, ChangePlan& plan) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return "expected NAME=VALUE, got \"" + std::string(assignment) + "\"";
    }
    const std::string_view name = assignment.substr(0, equals);
    const Setting* setting = FindSetting(name);
    if (setting == nullptr) {
        std::string names;
        for (const Setting& s : kSettings) {
            names += names.empty() ? "" : ", ";
            names += s.name;
        }
        return "unknown setting \"" + std::string(name) + "\" (settings: " + names + ")";
    }
    if (!setting->shownFor(kind)) {
        return std::string(name) + " does not apply to a reader of kind " + std::to_string(kind);
    }
    if (!setting->step || setting->parse == nullptr) {
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
    plan.steps.push_back(*setting->step);
    return {};
}

// A new Wiegand format puts out its own number of bytes unless a length is given as well, as the
// tool's Save does; the bytes put out must lie in the EPC window.
std::string SettleOutputBytes(ChangePlan& plan) {
    if (Named(plan, "wiegand-format") && !Named(plan, "output-length")) {
        plan.target.output[kOutputLength] =
            plan.target.wiegandFormat == kWiegand34Code ? kWiegand34Bytes : kWiegand26Bytes;
        plan.steps.push_back(WriteStep::kOutputBytes);
    }
    const bool writesOutput =
        std::find(plan.steps.begin(), plan.steps.end(), WriteStep::kOutputBytes) != plan.steps.end();
    const int32_t start = plan.target.output[kOutputStart];
    const int32_t length = plan.target.output[kOutputLength];
    if (writesOutput && start + length > kEpcWindowBytes) {
        return "output-start " + std::to_string(start) + " with output-length " + std::to_string(length) +
               " runs past the 12 EPC bytes (start + length must be at most 12)";
    }
    return {};
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
    // The writes in the tool's order (the order of WriteStep), each once.
    std::sort(plan.steps.begin(), plan.steps.end());
    plan.steps.erase(std::unique(plan.steps.begin(), plan.steps.end()), plan.steps.end());
    return {};
}

}  // namespace zendrik::cli
