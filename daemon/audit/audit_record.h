#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik::daemon {

// Who asked for a command and by which path: the actor (a token's name, the MQTT actor, or the
// daemon itself) and "rest", "console", "mqtt" or "enforcement".
struct Caller {
    std::string actor;
    std::string path;

    bool operator==(const Caller&) const = default;
};

inline constexpr std::string_view kPathRest = "rest";
inline constexpr std::string_view kPathConsole = "console";
inline constexpr std::string_view kPathMqtt = "mqtt";
inline constexpr std::string_view kPathEnforcement = "enforcement";
// The actor of an MQTT command that names none, and of the daemon's own writes.
inline constexpr std::string_view kMqttActor = "mqtt";
inline constexpr std::string_view kDaemonActor = "zendrikd";

// What became of an entry's command. kPending: it runs now; kUnknown: the daemon stopped (or
// crashed) between storing the entry and its outcome.
enum class AuditOutcome { kPending, kOk, kFailed, kDenied, kUnknown };

// "pending", "ok", "failed", "denied", "unknown".
const char* AuditOutcomeWords(AuditOutcome outcome);
std::optional<AuditOutcome> AuditOutcomeOf(std::string_view words);

// What is known of a command when it is received.
struct AuditStart {
    Caller caller;
    std::string reader;  // empty for a command to the site (reload)
    std::string command;
    std::string argsJson = "{}";
};

// What is known once it has ended: the outcome, and for writes and factory defaults the settings
// concerned as they were before and as read back after (empty: not known).
struct AuditEnd {
    AuditOutcome outcome = AuditOutcome::kOk;
    int32_t code = 0;
    std::string words;
    std::string beforeJson;
    std::string afterJson;
};

// One entry of the trail.
struct AuditRecord {
    int64_t id = 0;
    int64_t timeMs = 0;
    AuditStart start;
    AuditEnd end{AuditOutcome::kPending, 0, {}, {}, {}};
};

// {"id":N,"time":T,"actor":A,"path":P,"reader":R|null,"command":C,"args":{…},"outcome":O,
//  "error":{"code":N,"words":W},"before":{…},"after":{…}}: error only when it did not succeed,
// before and after only when known.
nlohmann::ordered_json AuditRecordJson(const AuditRecord& record);
// The same with its seq after the id, as published on PREFIX/SITE/audit.
std::string AuditMessageJson(const AuditRecord& record, uint64_t seq);

}  // namespace zendrik::daemon
