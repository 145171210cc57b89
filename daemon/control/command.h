#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "daemon/control/command_outcome.h"

namespace zendrik::daemon {

// The commands to a reader, whichever edge (MQTT or HTTP) they came in by.
enum class CommandKind {
    kInfo,
    kGetSettings,
    kSetSettings,
    kCheckSettings,
    kFactoryDefault,
    kStop,
    kStart,
};

// A setting a set-settings request names, with its value as `zendrik set` takes it ("20", "on");
// no value when the request gave neither a whole number nor a text.
struct SettingValue {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const SettingValue&) const = default;
};

// A command as its edge read it, once: what it is and, for set-settings, the settings in the order
// the request gave them. What is wrong with its args is refused when it runs, after the policy
// and the reader were checked, so that a request wrong twice gets the refusal it always got.
struct Command {
    CommandKind kind = CommandKind::kInfo;
    std::vector<SettingValue> settings;  // set-settings
    bool unwantedArgs = false;           // args given to a command that takes none

    bool operator==(const Command&) const = default;
};

// The command's name on the MQTT command channel ("set-settings").
std::string_view CommandName(CommandKind kind);
// The names of every command, for refusals: "info, get-settings, …".
std::string CommandNames();
// Whether [control] commands = "read-only" allows it.
bool CommandReadsOnly(CommandKind kind);

// The command of that name with `args` (a JSON object) read into it, or the refusal of a name no
// command has.
std::variant<Command, CommandOutcome> ParseCommand(std::string_view name, const nlohmann::ordered_json& args);
// The command of that kind with `args` (a JSON object) read into it.
Command CommandWithArgs(CommandKind kind, const nlohmann::ordered_json& args);

// What the checks of a command's args need to know of its reader.
struct ReaderFacts {
    std::function<bool(const std::string& name)> declares;  // a key its [reader.settings] declares
    std::optional<int32_t> kind;                            // nothing before it said
};

// The args of a command checked for its reader, in the order the refusals always came: args for a
// command that takes none, nothing to set, then each setting in its order (declared by the
// configuration file, or a value neither number nor text), then the values against the reader's
// kind with the rules of `zendrik set`. The assignments to write ("power=20"; none but for
// set-settings), or the refusal.
std::variant<std::vector<std::string>, CommandOutcome> CheckCommand(const Command& command,
                                                                    const ReaderFacts& reader);

// A refusal of a request that cannot run as it is.
CommandOutcome BadRequest(std::string words);

}  // namespace zendrik::daemon
