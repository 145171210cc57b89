#include "daemon/control/commands.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <variant>

#include "base/time_text.h"
#include "daemon/common/json_text.h"
#include "daemon/readers/reader_runtime.h"
#include "daemon/readers/session_source.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kInventoryRunning = R"({"inventory":"running"})";
constexpr const char* kInventoryStopped = R"({"inventory":"stopped"})";
constexpr const char* kInSyncWithNothingDeclared = R"({"in_sync":true,"differences":{}})";

CommandOutcome Failure(CommandFailure failure, int32_t code, std::string words) {
    return CommandOutcome{failure, {}, code, std::move(words)};
}

CommandOutcome Success(std::string resultJson) {
    return CommandOutcome{CommandFailure::kNone, std::move(resultJson), 0, {}};
}

// The library's whole result text as the object it is; an empty object for a text that is none.
Json ResultObject(const RequestEnd& completed) {
    Json result = completed.resultJson ? Json::parse(*completed.resultJson, nullptr, false) : Json::object();
    return result.is_object() ? result : Json::object();
}

// What a completed request means for a command: its result (the library's whole result, as compact
// JSON text: the replies put it in as it is), or the failure in the channels' terms.
CommandOutcome OutcomeOf(const RequestEnd& completed, const std::string& reader) {
    if (completed.result == ZENDRIK_OK) {
        if (!completed.resultJson) {
            return Failure(CommandFailure::kRefused, kCodeResultLost, LostResultWords(completed));
        }
        return Success(JsonText(ResultObject(completed)));
    }
    const std::string words = CompletionWords(completed);
    if (completed.result == ZENDRIK_ERR_CANCELLED) {
        return Failure(CommandFailure::kUnreachable, completed.result, words);
    }
    switch (zendrik_result_kind(completed.result)) {
        case ZENDRIK_RESULT_KIND_TRANSPORT:
            return Failure(CommandFailure::kUnreachable, completed.result,
                           "reader " + reader + " cannot be reached: " + words);
        case ZENDRIK_RESULT_KIND_BAD_ARGUMENT:
            return Failure(CommandFailure::kBadRequest, completed.result, words + "; nothing was written");
        case ZENDRIK_RESULT_KIND_STATE:
            return Failure(CommandFailure::kBusy, completed.result, words);
        default:
            return Failure(CommandFailure::kRefused, completed.result, words);
    }
}

// Why a request could not even be queued.
CommandOutcome NotQueued(int32_t code, const std::string& reader) {
    if (code == ZENDRIK_ERR_QUEUE_FULL) {
        return Failure(CommandFailure::kBusy, code, "too many commands wait for reader " + reader);
    }
    return Failure(CommandFailure::kUnreachable, code,
                   "reader " + reader + " is not open: " + zendrik::result_words(code));
}

// What each command does with its reader once the policy, the reader and the args were checked.
struct Invocation {
    ReaderRuntime& reader;
    std::vector<std::string> assignments;  // set-settings: as CheckCommand gave them
    Commands::Done done;

    // Queues the request and hands its outcome (as `finish` makes it) to `done`.
    void Queue(ReaderRequest request, std::function<CommandOutcome(const RequestEnd&)> finish) const {
        const std::string name = reader.name();
        Commands::Done reply = done;
        const auto queued = reader.Request(
            std::move(request), [reply, finish](const RequestEnd& completed) { reply(finish(completed)); });
        if (queued) {
            done(NotQueued(*queued, name));
        }
    }
    void Plain(int32_t kind, std::vector<std::string> args = {}) const {
        const std::string name = reader.name();
        Queue(ReaderRequest{kind, std::move(args)},
              [name](const RequestEnd& completed) { return OutcomeOf(completed, name); });
    }
};

void RunInfo(Invocation& call) {
    call.Plain(ZENDRIK_REQUEST_INFO);
}

void RunGetSettings(Invocation& call) {
    call.Plain(ZENDRIK_REQUEST_READ_SETTINGS);
}

void RunSetSettings(Invocation& call) {
    call.Plain(ZENDRIK_REQUEST_CONFIGURE, std::move(call.assignments));
}

void RunCheckSettings(Invocation& call) {
    std::vector<std::string> declared = call.reader.desired().Assignments();
    if (declared.empty()) {
        call.done(Success(kInSyncWithNothingDeclared));
        return;
    }
    const std::string name = call.reader.name();
    const DesiredSettings* desired = &call.reader.desired();
    call.Queue(ReaderRequest{ZENDRIK_REQUEST_PLAN_CHANGE, std::move(declared)},
               [name, desired](const RequestEnd& completed) {
                   CommandOutcome outcome = OutcomeOf(completed, name);
                   if (outcome.ok()) {
                       const Json differences = desired->WithSources(ResultObject(completed));
                       outcome.resultJson =
                           JsonText(Json{{"in_sync", differences.empty()}, {"differences", differences}});
                   }
                   return outcome;
               });
}

// The factory's values, then the declared settings written over them.
void RunFactoryDefault(Invocation& call) {
    ReaderRuntime* reader = &call.reader;
    const std::string name = reader->name();
    call.Queue(ReaderRequest{ZENDRIK_REQUEST_FACTORY_DEFAULT, {}},
               [reader, name](const RequestEnd& completed) {
                   CommandOutcome outcome = OutcomeOf(completed, name);
                   if (outcome.ok()) {
                       reader->desired().Check();
                   }
                   return outcome;
               });
}

void RunInventory(Invocation& call, bool start) {
    const char* result = start ? kInventoryRunning : kInventoryStopped;
    if (call.reader.inventoryRunning() == start) {
        call.done(Success(result));
        return;
    }
    ReaderRuntime* reader = &call.reader;
    const std::string name = reader->name();
    call.Queue(ReaderRequest{start ? ZENDRIK_REQUEST_INVENTORY_START : ZENDRIK_REQUEST_INVENTORY_STOP, {}},
               [reader, name, start, result](const RequestEnd& completed) {
                   CommandOutcome outcome = OutcomeOf(completed, name);
                   if (outcome.ok()) {
                       reader->NoteInventory(start);
                       outcome.resultJson = result;
                   }
                   return outcome;
               });
}

void RunCommand(CommandKind kind, Invocation& call) {
    switch (kind) {
        case CommandKind::kInfo:
            return RunInfo(call);
        case CommandKind::kGetSettings:
            return RunGetSettings(call);
        case CommandKind::kSetSettings:
            return RunSetSettings(call);
        case CommandKind::kCheckSettings:
            return RunCheckSettings(call);
        case CommandKind::kFactoryDefault:
            return RunFactoryDefault(call);
        case CommandKind::kStop:
            return RunInventory(call, false);
        case CommandKind::kStart:
            return RunInventory(call, true);
    }
}

// The settings a write concerns: those it names, every one for a factory default.
std::vector<std::string> ConcernedNames(const Command& command) {
    std::vector<std::string> names;
    for (const SettingValue& setting : command.settings) {
        names.push_back(setting.name);
    }
    return names;
}

bool WritesSettings(CommandKind kind) {
    return kind == CommandKind::kSetSettings || kind == CommandKind::kFactoryDefault;
}

// The settings as they are before a write, read by a request queued just ahead of it: the reader
// runs its requests in order, so nothing comes between the two.
void ReadBefore(ReaderRuntime& reader, const std::vector<std::string>& names,
                const std::shared_ptr<std::string>& before) {
    reader.Request(ReaderRequest{ZENDRIK_REQUEST_READ_SETTINGS, {}},
                   [names, before](const RequestEnd& completed) {
                       if (completed.result == ZENDRIK_OK && completed.resultJson) {
                           *before = SettingsOfNames(*completed.resultJson, names);
                       }
                   });
}

}  // namespace

std::string CommandArgsJson(const Command& command) {
    Json args = Json::object();
    for (const SettingValue& setting : command.settings) {
        args[setting.name] = setting.value ? SettingValueJson(*setting.value) : Json(nullptr);
    }
    return JsonText(args);
}

AuditEnd AuditEndOf(const CommandOutcome& outcome, std::string beforeJson, std::string afterJson) {
    if (outcome.ok()) {
        return AuditEnd{AuditOutcome::kOk, 0, {}, std::move(beforeJson), std::move(afterJson)};
    }
    const AuditOutcome end =
        outcome.failure == CommandFailure::kForbidden ? AuditOutcome::kDenied : AuditOutcome::kFailed;
    return AuditEnd{end, outcome.code, outcome.words, std::move(beforeJson), {}};
}

Commands::Commands(CommandPolicy policy, FindReader find, AuditTrail* audit)
    : policy_(policy), find_(std::move(find)), audit_(audit) {}

void Commands::Run(const std::string& reader, const Command& command, Done done) {
    Run(reader, command, Caller{"anonymous", "internal"}, std::move(done));
}

void Commands::Run(const std::string& reader, const Command& command, const Caller& caller, Done done) {
    auto before = std::make_shared<std::string>();
    if (audit_ != nullptr) {
        const int64_t entry = audit_->Begin(
            AuditStart{caller, reader, std::string(CommandName(command.kind)), CommandArgsJson(command)});
        const bool writes = WritesSettings(command.kind);
        done = [audit = audit_, entry, before, writes, names = ConcernedNames(command),
                done = std::move(done)](const CommandOutcome& outcome) {
            const std::string after =
                writes && outcome.ok() ? SettingsOfNames(outcome.resultJson, names) : "";
            audit->Complete(entry, AuditEndOf(outcome, *before, after));
            done(outcome);
        };
    }
    if (policy_ == CommandPolicy::kOff ||
        (policy_ == CommandPolicy::kReadOnly && !CommandReadsOnly(command.kind))) {
        done(Failure(CommandFailure::kForbidden, kCodeForbidden,
                     std::string(CommandName(command.kind)) + " is not allowed: [control] commands is \"" +
                         CommandPolicyWords(policy_) + "\""));
        return;
    }
    ReaderRuntime* runtime = find_(reader);
    if (runtime == nullptr) {
        done(Failure(CommandFailure::kUnknownReader, kCodeUnknownReader,
                     "no reader is named \"" + reader + "\""));
        return;
    }
    const ReaderFacts facts{[runtime](const std::string& name) { return runtime->desired().Declares(name); },
                            runtime->kind()};
    auto checked = CheckCommand(command, facts);
    if (auto* refusal = std::get_if<CommandOutcome>(&checked)) {
        done(*refusal);
        return;
    }
    Invocation call{*runtime, std::get<std::vector<std::string>>(std::move(checked)), std::move(done)};
    if (audit_ != nullptr && WritesSettings(command.kind)) {
        ReadBefore(*runtime, ConcernedNames(command), before);
    }
    RunCommand(command.kind, call);
}

}  // namespace zendrik::daemon
