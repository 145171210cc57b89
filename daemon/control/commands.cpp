#include "daemon/control/commands.h"

#include <algorithm>
#include <array>
#include <memory>
#include <nlohmann/json.hpp>
#include <variant>

#include "base/time_text.h"
#include "daemon/common/json_text.h"
#include "daemon/common/payloads.h"
#include "daemon/readers/reader_runtime.h"
#include "daemon/readers/session_source.h"
#include "rules/settings_table.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

CommandOutcome Failure(CommandFailure failure, int32_t code, std::string words) {
    return CommandOutcome{failure, {}, code, std::move(words)};
}

CommandOutcome BadRequest(std::string words) {
    return Failure(CommandFailure::kBadRequest, kCodeBadRequest, std::move(words));
}

CommandOutcome Success(std::string resultJson) {
    return CommandOutcome{CommandFailure::kNone, std::move(resultJson), 0, {}};
}

// What a completed request means for a command: its result, or the failure in the channels' terms.
CommandOutcome OutcomeOf(const RequestEnd& completed, const std::string& reader) {
    if (completed.result == ZENDRIK_OK) {
        if (!completed.resultJson) {
            return Failure(CommandFailure::kRefused, kCodeResultLost, LostResultWords(completed));
        }
        return Success(*completed.resultJson);
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
    Json args;
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
    void Plain(int32_t kind) const {
        const std::string name = reader.name();
        Queue(ReaderRequest{kind, {}},
              [name](const RequestEnd& completed) { return OutcomeOf(completed, name); });
    }
};

void RunInfo(const Invocation& call) {
    call.Plain(ZENDRIK_REQUEST_INFO);
}

void RunGetSettings(const Invocation& call) {
    call.Plain(ZENDRIK_REQUEST_READ_SETTINGS);
}

// The args as `zendrik set` assignments, refused as a whole when one is of a declared key, not a
// number or text, or a value the reader's kind does not take.
std::variant<std::vector<std::string>, CommandOutcome> Assignments(const Invocation& call) {
    if (call.args.empty()) {
        return BadRequest("nothing to set: give the settings as args, e.g. {\"power\":20}");
    }
    std::vector<std::string> assignments;
    for (const auto& [name, value] : call.args.items()) {
        if (call.reader.desired().Declares(name)) {
            return Failure(CommandFailure::kManaged, kCodeManaged,
                           name + " is managed by the configuration file; nothing was written");
        }
        if (value.is_number_integer()) {
            assignments.push_back(name + "=" + value.dump());
        } else if (value.is_string()) {
            assignments.push_back(name + "=" + value.get<std::string>());
        } else {
            return BadRequest("the value of " + name +
                              " must be a number or a text, as `zendrik set` takes it; nothing was written");
        }
    }
    if (const std::optional<int32_t> kind = call.reader.kind()) {
        rules::ChangePlan plan;
        const std::string error =
            rules::PlanChanges(assignments, static_cast<uint8_t>(*kind), rules::ReaderSettings{}, plan);
        if (!error.empty()) {
            return BadRequest(error + "; nothing was written");
        }
    }
    return assignments;
}

void RunSetSettings(const Invocation& call) {
    auto assignments = Assignments(call);
    if (const auto* refusal = std::get_if<CommandOutcome>(&assignments)) {
        call.done(*refusal);
        return;
    }
    const std::string name = call.reader.name();
    call.Queue(ReaderRequest{ZENDRIK_REQUEST_CONFIGURE, std::get<std::vector<std::string>>(assignments)},
               [name](const RequestEnd& completed) { return OutcomeOf(completed, name); });
}

void RunCheckSettings(const Invocation& call) {
    const std::vector<std::string> declared = call.reader.desired().Assignments();
    if (declared.empty()) {
        call.done(Success(R"({"in_sync":true,"differences":{}})"));
        return;
    }
    const std::string name = call.reader.name();
    call.Queue(ReaderRequest{ZENDRIK_REQUEST_PLAN_CHANGE, declared}, [name](const RequestEnd& completed) {
        CommandOutcome outcome = OutcomeOf(completed, name);
        if (outcome.ok()) {
            Json differences = Json::parse(outcome.resultJson, nullptr, false);
            if (!differences.is_object()) {
                differences = Json::object();
            }
            outcome.resultJson =
                JsonText(Json{{"in_sync", differences.empty()}, {"differences", differences}});
        }
        return outcome;
    });
}

// The factory's values, then the declared settings written over them.
void RunFactoryDefault(const Invocation& call) {
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

void RunInventory(const Invocation& call, bool start) {
    const char* result = start ? R"({"inventory":"running"})" : R"({"inventory":"stopped"})";
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

struct CommandEntry {
    std::string_view name;
    bool readOnly;  // allowed by "read-only"
    bool takesArgs;
    void (*run)(const Invocation& call);
};

constexpr std::array kCommands{
    CommandEntry{"info", true, false, RunInfo},
    CommandEntry{"get-settings", true, false, RunGetSettings},
    CommandEntry{"set-settings", false, true, RunSetSettings},
    CommandEntry{"check-settings", true, false, RunCheckSettings},
    CommandEntry{"factory-default", false, false, RunFactoryDefault},
    CommandEntry{"stop", false, false, [](const Invocation& call) { RunInventory(call, false); }},
    CommandEntry{"start", false, false, [](const Invocation& call) { RunInventory(call, true); }},
};

std::string CommandNames() {
    std::string names;
    for (const CommandEntry& entry : kCommands) {
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return names;
}

std::optional<std::string> TextField(const Json& request, const char* key) {
    const auto found = request.find(key);
    if (found == request.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

}  // namespace

CommandRequest ParseCommandRequest(std::string_view payload) {
    CommandRequest request;
    if (payload.size() > kCommandRequestMaxBytes) {
        request.refusal = BadRequest("the request is larger than 64 KiB");
        return request;
    }
    const Json json = Json::parse(payload, nullptr, false);
    if (!json.is_object()) {
        request.refusal =
            BadRequest(R"(the request is no JSON object: send {"id":"…","command":"…","args":{…}})");
        return request;
    }
    request.command = TextField(json, "command");
    const std::optional<std::string> id = TextField(json, "id");
    if (!id || id->empty() || id->size() > kCommandIdMaxBytes) {
        request.refusal = BadRequest(json.contains("id") ? "the id must be a text of 1 to 64 characters"
                                                         : "the request has no id");
        return request;
    }
    request.id = id;
    if (!request.command) {
        request.refusal = BadRequest("the request has no command (commands: " + CommandNames() + ")");
        return request;
    }
    if (const auto args = json.find("args"); args != json.end() && !args->is_null()) {
        if (!args->is_object()) {
            request.refusal = BadRequest("the args must be a JSON object");
            return request;
        }
        request.argsJson = JsonText(*args);
    }
    return request;
}

std::string CommandReplyJson(const CommandRequest& request, const CommandOutcome& outcome, int64_t timeMs) {
    Json json;
    json["id"] = request.id ? Json(*request.id) : Json(nullptr);
    json["command"] = request.command ? Json(*request.command) : Json(nullptr);
    json["ok"] = outcome.ok();
    if (outcome.ok()) {
        Json result = Json::parse(outcome.resultJson, nullptr, false);
        json["result"] = result.is_discarded() ? Json::object() : result;
    } else {
        json["error"] = Json{{"code", outcome.code}, {"words", outcome.words}};
    }
    json["time"] = base::UtcText(timeMs);
    return JsonText(json);
}

const std::string* ReplyCache::Find(const std::string& reader, const std::string& id, Clock::time_point now) {
    Expire(now);
    const auto found = replies_.find(reader + '/' + id);
    return found == replies_.end() ? nullptr : &found->second;
}

void ReplyCache::Store(const std::string& reader, const std::string& id, std::string reply,
                       Clock::time_point now) {
    Expire(now);
    const std::string key = reader + '/' + id;
    if (replies_.count(key) != 0) {
        return;
    }
    while (replies_.size() >= kMaxEntries) {
        replies_.erase(order_.front().key);
        order_.pop_front();
    }
    replies_.emplace(key, std::move(reply));
    order_.push_back(Entry{key, now});
}

void ReplyCache::Expire(Clock::time_point now) {
    while (!order_.empty() && now - order_.front().when >= kKeepFor) {
        replies_.erase(order_.front().key);
        order_.pop_front();
    }
}

Commands::Commands(CommandPolicy policy, FindReader find) : policy_(policy), find_(std::move(find)) {}

void Commands::Run(const std::string& reader, const std::string& command, const std::string& argsJson,
                   Done done) {
    const auto entry = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandEntry& known) { return known.name == command; });
    if (entry == kCommands.end()) {
        done(BadRequest("unknown command \"" + command + "\" (commands: " + CommandNames() + ")"));
        return;
    }
    if (policy_ == CommandPolicy::kOff || (policy_ == CommandPolicy::kReadOnly && !entry->readOnly)) {
        done(Failure(
            CommandFailure::kForbidden, kCodeForbidden,
            command + " is not allowed: [control] commands is \"" + CommandPolicyWords(policy_) + "\""));
        return;
    }
    ReaderRuntime* runtime = find_(reader);
    if (runtime == nullptr) {
        done(Failure(CommandFailure::kUnknownReader, kCodeUnknownReader,
                     "no reader is named \"" + reader + "\""));
        return;
    }
    Json args = Json::parse(argsJson, nullptr, false);
    if (!args.is_object()) {
        done(BadRequest("the args must be a JSON object"));
        return;
    }
    if (!entry->takesArgs && !args.empty()) {
        done(BadRequest(command + " takes no args"));
        return;
    }
    entry->run(Invocation{*runtime, std::move(args), std::move(done)});
}

}  // namespace zendrik::daemon
