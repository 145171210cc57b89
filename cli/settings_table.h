#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/reader_settings.h"

namespace zendrik::cli {

// One setting as `config` shows it and `set` takes it: its name, the values it takes, how the
// reader's value is shown, how a new value is checked (with the tool's ranges) and which write
// carries it. A setting without a write step is shown only.
struct Setting {
    std::string_view name;
    std::string_view values;  // for help texts: "on|off", "1-254 (seconds)"
    bool numeric;             // shown as a JSON number
    bool (*shownFor)(uint8_t kind);
    std::string (*format)(const ReaderSettings& settings);
    // Puts the value into `settings`; an empty result, or what is wrong with the value.
    std::string (*parse)(std::string_view text, uint8_t kind, ReaderSettings& settings);
    std::optional<WriteStep> step;
};

// Every setting, in the order `config` shows them.
std::span<const Setting> AllSettings();

// The settings shown for a reader of `kind`.
std::vector<const Setting*> SettingsFor(uint8_t kind);

const Setting* FindSetting(std::string_view name);

// What `set` is going to do: the settings named, the values to write, and the writes in the
// order the tool makes them.
struct ChangePlan {
    std::vector<const Setting*> named;
    ReaderSettings target;
    std::vector<WriteStep> steps;
};

// Turns NAME=VALUE assignments into a plan on top of the reader's `current` settings. Every value
// is checked, and so is the EPC window of the output settings and the frequency band. An empty
// result, or what is wrong with the assignments.
std::string PlanChanges(std::span<const std::string> assignments, uint8_t kind, const ReaderSettings& current,
                        ChangePlan& plan);

}  // namespace zendrik::cli
