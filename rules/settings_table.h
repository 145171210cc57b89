#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/reader_settings.h"
#include "rules/value_ranges.h"

// The settings by name, as `zendrik config` shows them and `zendrik set` takes them: the values
// each takes (with the configuration tool's ranges), how the reader's value is shown, and which
// command writes it.
namespace zendrik::rules {

// What a setting takes, for a form that offers it: integers in a range (for some settings a range
// that depends on the reader's kind), one of two words, or a text of the form `values` describes.
struct SettingDomain {
    enum class Type { kInteger, kChoice, kText };
    Type type;
    std::optional<ValueRange> (*range)(uint8_t kind) = nullptr;  // kInteger
    std::array<std::string_view, 2> choices{};                   // kChoice
};

struct Setting {
    std::string_view name;
    std::string_view values;  // for help texts: "on|off", "1-254 (seconds)"
    bool numeric;             // shown as a JSON number
    bool (*shownFor)(uint8_t kind);
    std::string (*format)(const ReaderSettings& settings);
    // Puts the value into `settings`; an empty result, or what is wrong with the value. Null for
    // a setting that follows from another and is shown only.
    std::string (*parse)(std::string_view text, uint8_t kind, ReaderSettings& settings);
    std::optional<SettingCommand> command;
    SettingDomain domain;
};

// Every setting, in the order `config` shows them.
std::span<const Setting> AllSettings();

// The settings shown for a reader of `kind`.
std::vector<const Setting*> SettingsFor(uint8_t kind);

const Setting* FindSetting(std::string_view name);

// What a change is going to do: the settings named, the values to write, and the commands that
// write them in the tool's Save order, each once (WriteSequence adds the repeated interval).
struct ChangePlan {
    std::vector<const Setting*> named;
    ReaderSettings target;
    std::vector<SettingCommand> commands;
};

// The setting that writing `name` changes as well unless it is given with it: a new Wiegand format
// puts out its own number of bytes, so "wiegand-format" changes "output-length". A program that
// keeps a declared value of that setting gives it along whenever it writes `name`. Empty for a
// setting that changes no other.
std::string_view ChangedAlongWith(std::string_view name);

// Turns NAME=VALUE assignments into a plan on top of the reader's `current` settings. Every value
// is checked, and so are the output settings against the EPC window and the frequency band. A new
// Wiegand format puts out its own number of bytes unless a length is given too, as the tool's
// Save does. An empty result, or what is wrong with the assignments.
std::string PlanChanges(std::span<const std::string> assignments, uint8_t kind, const ReaderSettings& current,
                        ChangePlan& plan);

// A plan that writes every setting of `settings` a reader of `kind` takes, each checked as if it
// had been named (the power is left out for a kind without a power range, as the tool does). An
// empty result, or what is wrong with the settings.
std::string PlanAllSettings(uint8_t kind, const ReaderSettings& settings, ChangePlan& plan);

// The named settings whose read-back differs from what was written:
// "power was set to 20 but reads back as 18".
std::vector<std::string> Mismatches(const ChangePlan& plan, const ReaderSettings& readBack);

}  // namespace zendrik::rules
