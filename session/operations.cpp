#include "session/operations.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "commands/tag_commands.h"
#include "bridge/settings_record.h"
#include "link/result_codes.h"
#include "rules/identity_text.h"
#include "rules/settings_json.h"
#include "rules/settings_table.h"
#include "session/event_json.h"
#include "session/settings_change.h"

namespace zendrik::session {
namespace {

// The tag list request's two parameter bytes; the reader takes any values.
constexpr uint8_t kTagListParameter = 0;
constexpr std::size_t kEscapeLength = 4;  // \xNN

Outcome Failure(int32_t result, std::string message) {
    Outcome outcome;
    outcome.result = result;
    outcome.message = std::move(message);
    return outcome;
}

std::string Failed(std::string_view what, int32_t result) {
    return std::string(what) + ": " + ResultWords(result);
}

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = '\0';
}

// Cuts a text with \xNN escapes to `capacity` characters with its NUL, never inside an escape.
std::string CutEscapedText(const std::string& text, std::size_t capacity) {
    std::size_t kept = 0;
    while (kept < text.size()) {
        const bool escape = text[kept] == '\\' && kept + 1 < text.size() && text[kept + 1] == 'x';
        const std::size_t step = escape ? kEscapeLength : 1;
        if (kept + step > capacity - 1 || kept + step > text.size()) {
            break;
        }
        kept += step;
    }
    return text.substr(0, kept);
}

// Connects unless connected; the failure as an outcome.
std::optional<Outcome> NotConnected(ReaderSession& session) {
    if (const int32_t result = session.Note(session.EnsureConnected()); result != ZENDRIK_OK) {
        return Failure(result, Failed("cannot connect", result));
    }
    return std::nullopt;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

Outcome Info(ReaderSession& session) {
    if (std::optional<Outcome> failed = NotConnected(session)) {
        return *failed;
    }
    std::vector<uint8_t> version;
    std::vector<uint8_t> serial;
    if (const int32_t result = session.Note(session.ReadVersion(version)); result != ZENDRIK_OK) {
        return Failure(result, Failed("cannot read the version", result));
    }
    if (const int32_t result = session.Note(session.ReadSerialNumber(serial)); result != ZENDRIK_OK) {
        return Failure(result, Failed("cannot read the serial number", result));
    }
    Outcome outcome;
    zendrik_reader_info& info = outcome.info;
    info.size = sizeof info;
    info.kind = session.handshake().readerKind;
    info.low_value = session.handshake().lowValue;
    CopyField(info.version, CutEscapedText(rules::VersionText(version), sizeof info.version));
    CopyField(info.serial, rules::SerialNumberHex(serial));
    outcome.json = "{\"kind\":" + std::to_string(info.kind) + ",\"version\":" + JsonString(info.version) +
                   ",\"serial\":" + JsonString(info.serial) + "}";
    return outcome;
}

// A settings result: the record, the reader's kind and the JSON of `zendrik config --json`.
Outcome WithSettings(Outcome outcome, const ReaderSession& session, const rules::ReaderSettings& settings) {
    const uint8_t kind = session.handshake().readerKind;
    outcome.settings.size = sizeof outcome.settings;
    bridge::ToPublicSettings(settings, outcome.settings);
    outcome.info.size = sizeof outcome.info;
    outcome.info.kind = kind;
    if (outcome.result == ZENDRIK_OK) {
        outcome.json = rules::SettingsJsonLine(kind, settings);
    }
    return outcome;
}

Outcome FromChange(const ChangeOutcome& change) {
    return Failure(change.result, change.message);
}

Outcome ReadAll(ReaderSession& session) {
    if (std::optional<Outcome> failed = NotConnected(session)) {
        return *failed;
    }
    rules::ReaderSettings settings;
    if (const ChangeOutcome read = ReadSettings(session, settings); read.result != ZENDRIK_OK) {
        return FromChange(read);
    }
    return WithSettings(Outcome{}, session, settings);
}

// Reads the settings and plans the assignments on them; a refused plan says nothing is written.
Outcome Plan(ReaderSession& session, const std::vector<std::string>& assignments,
             rules::ReaderSettings& current, rules::ChangePlan& plan) {
    if (std::optional<Outcome> failed = NotConnected(session)) {
        return *failed;
    }
    if (const ChangeOutcome read = ReadSettings(session, current); read.result != ZENDRIK_OK) {
        return FromChange(read);
    }
    if (std::string error = rules::PlanChanges(assignments, session.handshake().readerKind, current, plan);
        !error.empty()) {
        return Failure(ZENDRIK_ERR_INVALID_ARGUMENT, error + "; nothing was written");
    }
    return Outcome{};
}

Outcome PlanChange(ReaderSession& session, const std::vector<std::string>& assignments) {
    rules::ReaderSettings current;
    rules::ChangePlan plan;
    if (Outcome planned = Plan(session, assignments, current, plan); planned.result != ZENDRIK_OK) {
        return planned;
    }
    Outcome outcome = WithSettings(Outcome{}, session, current);
    outcome.json = rules::PlanDifferencesJson(plan, current);
    return outcome;
}

Outcome Apply(ReaderSession& session, const rules::ChangePlan& plan) {
    rules::ReaderSettings readBack;
    const ChangeOutcome applied = ApplyPlan(session, plan, &readBack);
    if (applied.result != ZENDRIK_OK && applied.result != ZENDRIK_ERR_VERIFY) {
        return FromChange(applied);
    }
    // A value the reader kept otherwise is a failure, but what it holds is known.
    return WithSettings(FromChange(applied), session, readBack);
}

Outcome Configure(ReaderSession& session, const std::vector<std::string>& assignments) {
    rules::ReaderSettings current;
    rules::ChangePlan plan;
    if (Outcome planned = Plan(session, assignments, current, plan); planned.result != ZENDRIK_OK) {
        return planned;
    }
    return Apply(session, plan);
}

Outcome WriteAll(ReaderSession& session, const zendrik_settings& settings) {
    if (std::optional<Outcome> failed = NotConnected(session)) {
        return *failed;
    }
    rules::ChangePlan plan;
    if (std::string error = rules::PlanAllSettings(session.handshake().readerKind,
                                                   bridge::FromPublicSettings(settings), plan);
        !error.empty()) {
        return Failure(ZENDRIK_ERR_INVALID_ARGUMENT, error + "; nothing was written");
    }
    return Apply(session, plan);
}

Outcome FactoryDefault(ReaderSession& session, bool readBack) {
    if (std::optional<Outcome> failed = NotConnected(session)) {
        return *failed;
    }
    if (const ChangeOutcome restored = RestoreFactoryDefaults(session); restored.result != ZENDRIK_OK) {
        return FromChange(restored);
    }
    if (!readBack) {
        return Outcome{};
    }
    Outcome read = ReadAll(session);
    if (read.result != ZENDRIK_OK) {
        read.message = "restored, but " + read.message;
    }
    return read;
}

CallResult ReadTag(ReaderSession& session) {
    CallResult called;
    if (std::optional<Outcome> failed = NotConnected(session)) {
        called.outcome = *failed;
        return called;
    }
    if (!session.card_rule_loaded()) {
        if (const int32_t result = session.Note(session.LoadCardRule()); result != ZENDRIK_OK) {
            called.outcome = Failure(result, Failed("cannot read the output settings", result));
            return called;
        }
    }
    const TagRound round = session.ReadTagRound();
    if (session.Note(round.code) != ZENDRIK_OK) {
        called.outcome.result = round.code;
        return called;
    }
    const int64_t utcMs = session.clock().UtcMilliseconds();
    const Presence once{1, utcMs, utcMs, session.clock().now(), round.card};
    called.tag = TagEvent(ZENDRIK_EVENT_READ, utcMs, round.epc, once, round.antenna, round.rssi);
    called.tag.fields.roundUs = RoundMicroseconds(round);
    return called;
}

CallResult ReadTagList(ReaderSession& session) {
    CallResult called;
    if (std::optional<Outcome> failed = NotConnected(session)) {
        called.outcome = *failed;
        return called;
    }
    std::array<uint8_t, kTagListCapacity> listed{};
    uint8_t count = 0;
    called.outcome.result =
        session.Note(GetListTagId(session.link(), kTagListParameter, kTagListParameter, count, listed));
    if (called.outcome.result == ZENDRIK_OK) {
        called.ids = Bytes(std::span(listed).first(count));
    }
    return called;
}

}  // namespace

CallResult Perform(ReaderSession& session, const Request& request) {
    switch (request.kind) {
        case RequestKind::kInfo:
            return {Info(session)};
        case RequestKind::kReadSettings:
            return {ReadAll(session)};
        case RequestKind::kPlanChange:
            return {PlanChange(session, request.assignments)};
        case RequestKind::kConfigure:
            return {Configure(session, request.assignments)};
        case RequestKind::kWriteSettings:
            return {WriteAll(session, request.settings)};
        case RequestKind::kFactoryDefault:
            return {FactoryDefault(session, request.readBack)};
        case RequestKind::kReadTag:
            return ReadTag(session);
        case RequestKind::kReadTagList:
            return ReadTagList(session);
        case RequestKind::kInventoryStart:
        case RequestKind::kInventoryStop:
            break;
    }
    return {Failure(ZENDRIK_ERR_INVALID_ARGUMENT, "not a reader operation")};
}

const char* RequestKindName(int32_t kind) {
    switch (static_cast<RequestKind>(kind)) {
        case RequestKind::kInfo:
            return "info";
        case RequestKind::kReadSettings:
            return "read-settings";
        case RequestKind::kPlanChange:
            return "plan-change";
        case RequestKind::kConfigure:
            return "configure";
        case RequestKind::kWriteSettings:
            return "write-settings";
        case RequestKind::kFactoryDefault:
            return "factory-default";
        case RequestKind::kInventoryStart:
            return "inventory-start";
        case RequestKind::kInventoryStop:
            return "inventory-stop";
        case RequestKind::kReadTag:
        case RequestKind::kReadTagList:
            break;
    }
    return "unknown";
}

}  // namespace zendrik::session
