#include "daemon/audit/audit_record.h"

#include <algorithm>
#include <array>

#include "base/time_text.h"
#include "daemon/common/json_text.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

struct OutcomeName {
    AuditOutcome outcome;
    std::string_view words;
};
constexpr std::array kOutcomeNames{
    OutcomeName{AuditOutcome::kPending, "pending"}, OutcomeName{AuditOutcome::kOk, "ok"},
    OutcomeName{AuditOutcome::kFailed, "failed"},   OutcomeName{AuditOutcome::kDenied, "denied"},
    OutcomeName{AuditOutcome::kUnknown, "unknown"},
};

// A JSON text of the trail as the value it is; null for none (or one that does not parse).
Json ValueOf(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json::parse(text, nullptr, false);
}

}  // namespace

const char* AuditOutcomeWords(AuditOutcome outcome) {
    const auto found = std::find_if(kOutcomeNames.begin(), kOutcomeNames.end(),
                                    [&](const OutcomeName& name) { return name.outcome == outcome; });
    return found->words.data();
}

std::optional<AuditOutcome> AuditOutcomeOf(std::string_view words) {
    const auto found = std::find_if(kOutcomeNames.begin(), kOutcomeNames.end(),
                                    [&](const OutcomeName& name) { return name.words == words; });
    return found != kOutcomeNames.end() ? std::optional<AuditOutcome>(found->outcome) : std::nullopt;
}

Json AuditRecordJson(const AuditRecord& record) {
    Json json;
    json["id"] = record.id;
    json["time"] = base::UtcText(record.timeMs);
    json["actor"] = record.start.caller.actor;
    json["path"] = record.start.caller.path;
    json["reader"] = record.start.reader.empty() ? Json(nullptr) : Json(record.start.reader);
    json["command"] = record.start.command;
    const Json args = ValueOf(record.start.argsJson);
    json["args"] = args.is_object() ? args : Json::object();
    json["outcome"] = AuditOutcomeWords(record.end.outcome);
    if (record.end.outcome == AuditOutcome::kFailed || record.end.outcome == AuditOutcome::kDenied) {
        json["error"] = Json{{"code", record.end.code}, {"words", record.end.words}};
    }
    if (const Json before = ValueOf(record.end.beforeJson); !before.is_null() && !before.is_discarded()) {
        json["before"] = before;
    }
    if (const Json after = ValueOf(record.end.afterJson); !after.is_null() && !after.is_discarded()) {
        json["after"] = after;
    }
    return json;
}

std::string AuditMessageJson(const AuditRecord& record, uint64_t seq) {
    Json json = AuditRecordJson(record);
    Json message;
    for (auto& [key, value] : json.items()) {
        message[key] = std::move(value);
        if (key == "id") {
            message["seq"] = seq;
        }
    }
    return JsonText(message);
}

}  // namespace zendrik::daemon
