#include "daemon/control/command.h"

#include <algorithm>
#include <array>

#include "rules/settings_table.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

struct CommandEntry {
    CommandKind kind;
    std::string_view name;
    bool readOnly;  // allowed by "read-only"
    bool takesArgs;
};

constexpr std::array kCommands{
    CommandEntry{CommandKind::kInfo, "info", true, false},
    CommandEntry{CommandKind::kGetSettings, "get-settings", true, false},
    CommandEntry{CommandKind::kSetSettings, "set-settings", false, true},
    CommandEntry{CommandKind::kCheckSettings, "check-settings", true, false},
    CommandEntry{CommandKind::kFactoryDefault, "factory-default", false, false},
    CommandEntry{CommandKind::kStop, "stop", false, false},
    CommandEntry{CommandKind::kStart, "start", false, false},
};

const CommandEntry& EntryOf(CommandKind kind) {
    return *std::find_if(kCommands.begin(), kCommands.end(),
                         [&](const CommandEntry& entry) { return entry.kind == kind; });
}

// A value as `zendrik set` takes it: a whole number as its digits, a text as it is.
std::optional<std::string> AssignedText(const Json& value) {
    if (value.is_number_integer()) {
        return value.dump();
    }
    if (value.is_string()) {
        return value.get<std::string>();
    }
    return std::nullopt;
}

// The settings of set-settings, refused as a whole when one is of a declared key or not a number
// or text; "NAME=VALUE" each.
std::variant<std::vector<std::string>, CommandOutcome> Assignments(const Command& command,
                                                                   const ReaderFacts& reader) {
    if (command.settings.empty()) {
        return BadRequest("nothing to set: give the settings as args, e.g. {\"power\":20}");
    }
    std::vector<std::string> assignments;
    assignments.reserve(command.settings.size());
    for (const SettingValue& setting : command.settings) {
        if (reader.declares && reader.declares(setting.name)) {
            return CommandOutcome{
                CommandFailure::kManaged,
                {},
                kCodeManaged,
                setting.name + " is managed by the configuration file; nothing was written"};
        }
        if (!setting.value) {
            return BadRequest("the value of " + setting.name +
                              " must be a number or a text, as `zendrik set` takes it; nothing was written");
        }
        assignments.push_back(setting.name + "=" + *setting.value);
    }
    return assignments;
}

}  // namespace

std::string_view CommandName(CommandKind kind) {
    return EntryOf(kind).name;
}

std::string CommandNames() {
    std::string names;
    for (const CommandEntry& entry : kCommands) {
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return names;
}

bool CommandReadsOnly(CommandKind kind) {
    return EntryOf(kind).readOnly;
}

CommandOutcome BadRequest(std::string words) {
    return CommandOutcome{CommandFailure::kBadRequest, {}, kCodeBadRequest, std::move(words)};
}

std::variant<Command, CommandOutcome> ParseCommand(std::string_view name, const Json& args) {
    const auto entry = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandEntry& known) { return known.name == name; });
    if (entry == kCommands.end()) {
        return BadRequest("unknown command \"" + std::string(name) + "\" (commands: " + CommandNames() + ")");
    }
    return CommandWithArgs(entry->kind, args);
}

Command CommandWithArgs(CommandKind kind, const Json& args) {
    Command command{kind, {}, false};
    if (!EntryOf(kind).takesArgs) {
        command.unwantedArgs = !args.empty();
        return command;
    }
    command.settings.reserve(args.size());
    for (const auto& [setting, value] : args.items()) {
        command.settings.push_back(SettingValue{setting, AssignedText(value)});
    }
    return command;
}

std::variant<std::vector<std::string>, CommandOutcome> CheckCommand(const Command& command,
                                                                    const ReaderFacts& reader) {
    if (command.unwantedArgs) {
        return BadRequest(std::string(CommandName(command.kind)) + " takes no args");
    }
    if (command.kind != CommandKind::kSetSettings) {
        return std::vector<std::string>{};
    }
    auto assignments = Assignments(command, reader);
    const auto* planned = std::get_if<std::vector<std::string>>(&assignments);
    if (planned != nullptr && reader.kind) {
        rules::ChangePlan plan;
        const std::string error =
            rules::PlanChanges(*planned, static_cast<uint8_t>(*reader.kind), rules::ReaderSettings{}, plan);
        if (!error.empty()) {
            return BadRequest(error + "; nothing was written");
        }
    }
    return assignments;
}

}  // namespace zendrik::daemon
