#include "daemon/readers/desired_settings.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "daemon/readers/session_source.h"
#include "rules/settings_table.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kIntegerDigitsMax = 19;  // what an int64_t holds

// Whether writing the differences changes `name` as well (a new Wiegand format changes the output
// length): a declared value of it then goes along, so that the reader keeps it.
// What became of an enforcing write, for the audit trail: the written keys as read back after it.
AuditEnd WriteEnd(const RequestEnd& completed, const Json& written, const std::string& before) {
    if (completed.result != ZENDRIK_OK) {
        return AuditEnd{AuditOutcome::kFailed, completed.result, CompletionWords(completed), before, {}};
    }
    std::vector<std::string> names;
    for (const auto& item : written.items()) {
        names.push_back(item.key());
    }
    return AuditEnd{AuditOutcome::kOk,
                    0,
                    {},
                    before,
                    completed.resultJson ? SettingsOfNames(*completed.resultJson, names) : std::string()};
}

bool ChangedAlong(const Json& differences, const std::string& name) {
    const auto written = differences.items();
    return std::any_of(written.begin(), written.end(),
                       [&](const auto& item) { return rules::ChangedAlongWith(item.key()) == name; });
}

Json ParsedObject(const std::string& text) {
    Json json = Json::parse(text, nullptr, false);
    return json.is_object() ? json : Json::object();
}

}  // namespace

Json SettingValueJson(const std::string& value) {
    const bool integer = !value.empty() && value.size() < kIntegerDigitsMax &&
                         std::all_of(value.begin() + (value.front() == '-' ? 1 : 0), value.end(),
                                     [](char c) { return c >= '0' && c <= '9'; }) &&
                         value != "-";
    return integer ? Json(std::stoll(value)) : Json(value);
}

std::string SettingsOfNames(const std::string& settingsJson, const std::vector<std::string>& names) {
    const Json settings = Json::parse(settingsJson, nullptr, false);
    if (!settings.is_object()) {
        return {};
    }
    if (names.empty()) {
        return settings.dump();
    }
    Json chosen = Json::object();
    for (const std::string& name : names) {
        if (const auto found = settings.find(name); found != settings.end()) {
            chosen[name] = *found;
        }
    }
    return chosen.dump();
}

const char* SettingsStateWords(SettingsState state) {
    switch (state) {
        case SettingsState::kUnmanaged:
            return "unmanaged";
        case SettingsState::kInSync:
            return "in-sync";
        case SettingsState::kDrifted:
            return "drifted";
        case SettingsState::kApplying:
            return "applying";
    }
    return "unmanaged";
}

std::string CompletionWords(const zendrik_event& completed) {
    const std::size_t length = strnlen(completed.message, sizeof completed.message);
    return length > 0 ? std::string(completed.message, length) : zendrik::result_words(completed.result);
}

std::string LostResultWords(const zendrik_event& completed) {
    return "the reader's result of " + std::to_string(completed.json_length) +
           " bytes is longer than the library's record holds, and the library no longer keeps it whole";
}

DesiredSettings::DesiredSettings(const ReaderConfig& config, EventLoop& loop, Reader& reader)
    : name_(config.name),
      declared_(config.settings),
      profile_(config.profile),
      checkSeconds_(config.settingsCheckS),
      enforce_(config.settingsEnforce),
      reader_(reader),
      state_(config.settingsManaged ? SettingsState::kApplying : SettingsState::kUnmanaged) {
    if (managed() && checkSeconds_ > 0) {
        timer_ = loop.AddTimer([this] { Check(); });
    }
}

void DesiredSettings::Check() {
    if (!managed() || stopped_) {
        return;
    }
    if (timer_.valid()) {
        timer_.ArmIn(std::chrono::seconds{checkSeconds_});
    }
    if (comparing_) {
        again_ = true;
        return;
    }
    if (declared_.empty()) {
        SetState(SettingsState::kInSync);
        return;
    }
    comparing_ = true;
    const auto queued = reader_.Request(ReaderRequest{ZENDRIK_REQUEST_PLAN_CHANGE, Assignments()},
                                        [this](const RequestEnd& completed) { OnCompared(completed); });
    if (queued) {
        comparing_ = false;  // the reader is not open: the next connection compares
    }
}

void DesiredSettings::Stop() {
    stopped_ = true;
    if (timer_.valid()) {
        timer_.Disarm();
    }
}

void DesiredSettings::OnCompared(const RequestEnd& completed) {
    if (stopped_) {
        return;  // the reader is being closed: nothing is reported of it any more
    }
    if (completed.result != ZENDRIK_OK) {
        // A reader out of reach is compared again when its link is back.
        if (zendrik_result_kind(completed.result) != ZENDRIK_RESULT_KIND_TRANSPORT) {
            Fail(CompletionWords(completed));
        }
        Finish();
        return;
    }
    if (!completed.resultJson) {
        Fail(LostResultWords(completed));
        Finish();
        return;
    }
    const Json differences = WithSources(ParsedObject(*completed.resultJson));
    if (differences.empty()) {
        drift_ = nullptr;
        lastReported_.clear();
        SetState(SettingsState::kInSync);
        Finish();
        return;
    }
    const std::string text = differences.dump();
    // Reported once while it stays the same, unless it is written back (then at every finding).
    if (enforce_ || text != lastReported_) {
        reader_.Emit(kSettingsDriftEvent, Json{{"differences", differences}});
        lastReported_ = text;
    }
    drift_ = differences;
    if (!enforce_) {
        SetState(SettingsState::kDrifted);
        Finish();
        return;
    }
    Write(differences);
}

void DesiredSettings::Write(const Json& differences) {
    SetState(SettingsState::kApplying);
    std::vector<std::string> assignments;
    Json written = Json::object();
    Json before = Json::object();
    Json sources = Json::object();
    for (const DeclaredSetting& setting : declared_) {
        const bool differs = differences.contains(setting.name);
        if (differs || ChangedAlong(differences, setting.name)) {
            assignments.push_back(setting.Assignment());
        }
        if (differs) {
            written[setting.name] = differences[setting.name]["want"];
            before[setting.name] = differences[setting.name]["have"];
            sources[setting.name] = setting.Source();
        }
    }
    // The write is the daemon's own, recorded as any command is: before it runs.
    AuditTrail* audit = reader_.audit();
    const int64_t entry =
        audit != nullptr ? audit->Begin(AuditStart{{std::string(kDaemonActor), std::string(kPathEnforcement)},
                                                   name_,
                                                   "set-settings",
                                                   written.dump()})
                         : 0;
    auto beforeText = std::make_shared<std::string>(before.dump());
    Json applied{{"written", written}, {"sources", sources}};
    const auto queued =
        reader_.Request(ReaderRequest{ZENDRIK_REQUEST_CONFIGURE, assignments},
                        [this, written, applied, entry, beforeText](const RequestEnd& completed) {
                            if (AuditTrail* trail = reader_.audit(); trail != nullptr) {
                                trail->Complete(entry, WriteEnd(completed, written, *beforeText));
                            }
                            OnWritten(completed, applied);
                        });
    if (queued) {
        if (audit != nullptr) {
            audit->Complete(
                entry,
                AuditEnd{AuditOutcome::kFailed, *queued, zendrik::result_words(*queued), *beforeText, {}});
        }
        Fail("cannot queue the write: " + zendrik::result_words(*queued));
        Finish();
    }
}

void DesiredSettings::OnWritten(const RequestEnd& completed, const Json& applied) {
    if (stopped_) {
        return;
    }
    if (completed.result == ZENDRIK_OK) {
        reader_.Emit(kSettingsAppliedEvent, applied);
        drift_ = nullptr;
        lastReported_.clear();
        SetState(SettingsState::kInSync);
    } else {
        Fail(CompletionWords(completed));
    }
    Finish();
}

void DesiredSettings::Fail(const std::string& words) {
    if (words != lastReported_) {
        reader_.Emit(kSettingsFailedEvent, Json{{"error", words}});
        lastReported_ = words;
    }
    SetState(SettingsState::kDrifted);
}

void DesiredSettings::SetState(SettingsState state) {
    if (state != state_) {
        state_ = state;
        reader_.SettingsChanged();
    }
}

void DesiredSettings::Finish() {
    comparing_ = false;
    if (again_) {
        again_ = false;
        Check();
    }
}

std::string DesiredSettings::driftJson() const {
    return state_ == SettingsState::kDrifted && drift_.is_object() ? drift_.dump() : std::string();
}

bool DesiredSettings::Declares(const std::string& name) const {
    return std::any_of(declared_.begin(), declared_.end(),
                       [&](const DeclaredSetting& setting) { return setting.name == name; });
}

std::string DesiredSettings::SourcesJson() const {
    if (!managed()) {
        return {};
    }
    Json json = Json::object();
    for (const DeclaredSetting& setting : declared_) {
        json[setting.name] = setting.Source();
    }
    return json.dump();
}

Json DesiredSettings::WithSources(Json differences) const {
    for (const DeclaredSetting& setting : declared_) {
        const auto difference = differences.find(setting.name);
        if (difference != differences.end() && difference->is_object()) {
            (*difference)["source"] = setting.Source();
        }
    }
    return differences;
}

std::vector<std::string> DesiredSettings::Assignments() const {
    std::vector<std::string> assignments;
    for (const DeclaredSetting& setting : declared_) {
        assignments.push_back(setting.Assignment());
    }
    return assignments;
}

std::string DesiredSettings::DeclaredJson() const {
    if (!managed()) {
        return {};
    }
    Json json = Json::object();
    for (const DeclaredSetting& setting : declared_) {
        json[setting.name] = SettingValueJson(setting.value);
    }
    return json.dump();
}

}  // namespace zendrik::daemon
