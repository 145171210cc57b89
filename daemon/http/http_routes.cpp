#include "daemon/http/http_routes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <nlohmann/json.hpp>

#include "base/time_text.h"
#include "daemon/common/event_kinds.h"
#include "daemon/common/json_text.h"
#include "daemon/common/payloads.h"
#include "daemon/http/console_files.h"
#include "daemon/http/metrics_text.h"
#include "rules/settings_json.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

// The paths: "{}" stands for one reader name, "*" for the rest of the path (a console file).
struct PathRule {
    std::string_view method;
    std::string_view pattern;
    RouteKind kind;
    CommandKind command = CommandKind::kInfo;  // kCommand
    bool open = false;
};

constexpr std::array kRules{
    PathRule{"GET", "/healthz", RouteKind::kHealth, {}, true},
    PathRule{"GET", "/metrics", RouteKind::kMetrics},
    PathRule{"GET", "/api/v1/site", RouteKind::kSite},
    PathRule{"GET", "/api/v1/readers", RouteKind::kReaders},
    PathRule{"GET", "/api/v1/outputs", RouteKind::kOutputs},
    PathRule{"GET", "/api/v1/readers/{}", RouteKind::kReader},
    PathRule{"GET", "/api/v1/readers/{}/settings", RouteKind::kCommand, CommandKind::kGetSettings},
    PathRule{"PUT", "/api/v1/readers/{}/settings", RouteKind::kCommand, CommandKind::kSetSettings},
    PathRule{"GET", "/api/v1/readers/{}/settings/schema", RouteKind::kSettingsSchema},
    PathRule{"POST", "/api/v1/readers/{}/inventory/start", RouteKind::kCommand, CommandKind::kStart},
    PathRule{"POST", "/api/v1/readers/{}/inventory/stop", RouteKind::kCommand, CommandKind::kStop},
    PathRule{"POST", "/api/v1/readers/{}/factory-default", RouteKind::kCommand, CommandKind::kFactoryDefault},
    PathRule{"GET", "/api/v1/events", RouteKind::kEvents},
    PathRule{"GET", "/api/v1/whoami", RouteKind::kWhoAmI},
    PathRule{"POST", "/api/v1/reload", RouteKind::kReload},
    PathRule{"GET", "/api/v1/audit", RouteKind::kAudit},
    PathRule{"GET", "/api/v1/zones", RouteKind::kZones},
    PathRule{"GET", "/api/v1/zones/{}/tags", RouteKind::kZoneTags},
    PathRule{"GET", "/api/v1/tags/{}", RouteKind::kTag},
    PathRule{"GET", "/api/v1/passages", RouteKind::kPassages},
    // The console's files carry no secret, and the page must load before it can ask for the token.
    PathRule{"GET", "/", RouteKind::kConsoleFile, {}, true},
    PathRule{"GET", "/console/*", RouteKind::kConsoleFile, {}, true},
};

// The next segment of a path after `position` (which is at a '/'), moving `position` past it.
std::string_view NextSegment(std::string_view path, std::size_t& position) {
    const std::size_t start = position + 1;
    const std::size_t end = std::min(path.find('/', start), path.size());
    position = end;
    return path.substr(start, end - start);
}

// Whether `path` fits `pattern`; the reader name and the rest of the path as they were found.
bool Matches(std::string_view pattern, std::string_view path, std::string& reader, std::string& rest) {
    if (pattern == "/" || path == "/") {
        return pattern == path;
    }
    if (path.empty() || path.front() != '/') {
        return false;
    }
    std::size_t p = 0;
    std::size_t q = 0;
    while (p < pattern.size()) {
        const std::string_view want = NextSegment(pattern, p);
        if (want == "*") {
            rest = std::string(path.substr(std::min(q + 1, path.size())));
            return q < path.size() && !rest.empty();
        }
        if (q >= path.size()) {
            return false;
        }
        const std::string_view have = NextSegment(path, q);
        if (want == "{}") {
            if (have.empty()) {
                return false;
            }
            reader = std::string(have);
        } else if (want != have) {
            return false;
        }
    }
    return q == path.size();
}

void AddAllowed(std::string& allow, std::string_view method) {
    if (allow.find(method) == std::string::npos) {
        allow += allow.empty() ? "" : ", ";
        allow += method;
        if (method == "GET") {
            allow += ", HEAD";
        }
    }
}

HttpAnswer JsonAnswer(unsigned status, const Json& json) {
    return HttpAnswer{status, kJsonContentType, JsonText(json), {}};
}

// A JSON object given as text; an empty object for an empty or broken text.
Json ObjectOf(const std::string& text) {
    Json json = Json::parse(text, nullptr, false);
    return json.is_object() ? json : Json::object();
}

HttpAnswer HealthAnswer(const SiteSnapshot& site) {
    Json reasons = Json::array();
    if (site.mqttEnabled && !site.mqttConnected) {
        reasons.push_back("the broker is not connected");
    }
    if (!site.spoolWritable) {
        reasons.push_back("the spool cannot store");
    }
    if (reasons.empty()) {
        return JsonAnswer(200, {{"state", "ok"}});
    }
    return JsonAnswer(503, {{"state", "degraded"}, {"reasons", reasons}});
}

HttpAnswer SiteAnswer(const SiteSnapshot& site) {
    Json json;
    json["site"] = site.site;
    json["commands"] = site.commands;
    json["readers"] = site.readers.size();
    json["mqtt"] = !site.mqttEnabled ? "off" : site.mqttConnected ? "connected" : "down";
    json["event_kinds"] = PublishedEventKinds();
    // The doors by name, so that the console shows each before its first passage (the zones have a
    // route of their own).
    Json doors = Json::array();
    for (const DoorSnapshot& door : site.doors) {
        doors.push_back(door.name);
    }
    json["doors"] = std::move(doors);
    return JsonAnswer(200, json);
}

// {"name":…, every field of its retained status, "address":…, "managed":{…},
//  "managed_sources":{"power":"profile",…}}.
Json ReaderJson(const ReaderSnapshot& reader) {
    Json json;
    json["name"] = reader.name;
    Json status = ObjectOf(reader.statusJson);
    for (auto& [key, value] : status.items()) {
        json[key] = std::move(value);
    }
    json["address"] = reader.address;
    json["managed"] = ObjectOf(reader.managedJson);
    json["managed_sources"] = ObjectOf(reader.managedSourcesJson);
    return json;
}

HttpAnswer ReadersAnswer(const SiteSnapshot& site) {
    Json json = Json::array();
    for (const ReaderSnapshot& reader : site.readers) {
        json.push_back(ReaderJson(reader));
    }
    return JsonAnswer(200, json);
}

HttpAnswer SchemaAnswer(const ReaderSnapshot& reader) {
    const Json status = ObjectOf(reader.statusJson);
    const auto kind = status.find("kind");
    if (kind == status.end() || !kind->is_number_unsigned() || kind->get<uint64_t>() > UINT8_MAX) {
        return ErrorAnswer(503, "reader \"" + reader.name + "\" has not told its kind yet");
    }
    return HttpAnswer{200, kJsonContentType, rules::SettingsSchemaJson(kind->get<uint8_t>()), {}};
}

unsigned StatusOf(CommandFailure failure) {
    switch (failure) {
        case CommandFailure::kNone:
            return 200;
        case CommandFailure::kBadRequest:
            return 400;
        case CommandFailure::kForbidden:
            return 403;
        case CommandFailure::kUnknownReader:
            return 404;
        case CommandFailure::kManaged:
            return 409;
        case CommandFailure::kBusy:
            return 429;
        case CommandFailure::kRefused:
            return 502;  // the request was sound; the reader refused it or kept another value
        case CommandFailure::kUnreachable:
            return 503;
    }
    return 500;
}

// [{"name":…,"readers":[…],"tags":N}], in the configuration's order.
HttpAnswer ZonesAnswer(const SiteSnapshot& site) {
    Json json = Json::array();
    for (const ZoneSnapshot& zone : site.zones) {
        json.push_back({{"name", zone.name}, {"readers", zone.readers}, {"tags", zone.tags.size()}});
    }
    return JsonAnswer(200, json);
}

// {"zone":…,"tags":[{"epc","card","since","last_seen","last_reader","reads"}]}, oldest visit first.
HttpAnswer ZoneTagsAnswer(const SiteSnapshot& site, const std::string& name) {
    const auto zone = std::find_if(site.zones.begin(), site.zones.end(),
                                   [&](const ZoneSnapshot& candidate) { return candidate.name == name; });
    if (zone == site.zones.end()) {
        return ErrorAnswer(404, "no zone is named \"" + name + "\"");
    }
    Json tags = Json::array();
    for (const ZoneTagSnapshot& tag : zone->tags) {
        tags.push_back({{"epc", tag.epc},
                        {"card", tag.card.empty() ? Json(nullptr) : Json(tag.card)},
                        {"since", base::UtcText(tag.sinceMs)},
                        {"last_seen", base::UtcText(tag.lastSeenMs)},
                        {"last_reader", tag.lastReader},
                        {"reads", tag.reads}});
    }
    return JsonAnswer(200, {{"zone", zone->name}, {"tags", tags}});
}

constexpr const char* kBusyRetrySeconds = "1";

// What each role may do, as the console is told: each role all that the one below it may.
struct Permission {
    std::string_view action;
    AccessRole role;
};
constexpr std::array kPermissions{
    Permission{"read", AccessRole::kViewer},       Permission{"inventory", AccessRole::kOperator},
    Permission{"settings", AccessRole::kOperator}, Permission{"factory-default", AccessRole::kAdmin},
    Permission{"reload", AccessRole::kAdmin},
};

const char* Article(AccessRole role) {
    return role == AccessRole::kViewer ? "a" : "an";
}

std::optional<int64_t> WholeNumber(std::string_view text) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() ? std::optional<int64_t>(value)
                                                                    : std::nullopt;
}

}  // namespace

Route RouteOf(std::string_view method, std::string_view path) {
    const std::string_view asked = method == "HEAD" ? "GET" : method;
    Route route;
    for (const PathRule& rule : kRules) {
        std::string reader;
        std::string rest;
        if (!Matches(rule.pattern, path, reader, rest)) {
            continue;
        }
        if (rule.method != asked) {
            route.kind = RouteKind::kWrongMethod;
            AddAllowed(route.allow, rule.method);
            continue;
        }
        route = Route{rule.kind, std::move(reader), rule.command, {}, {}, rule.open};
        if (route.kind == RouteKind::kConsoleFile) {
            route.file = rest.empty() ? std::string(kConsoleIndex) : std::move(rest);
        }
        return route;
    }
    return route;
}

// {"outputs":[{"name":…,"kind":"mqtt"|"webhook","state":…,"target":…,"sent":N,"pending":N,
//  "dead_letters":N,"errors":{"reason":N},"last_error":…,"retry_in_ms":N}]} (retry_in_ms only while
// retrying, last_error only after a failure).
HttpAnswer OutputsAnswer(const SiteSnapshot& site) {
    Json outputs = Json::array();
    for (const OutputSnapshot& output : site.outputs) {
        Json json{{"name", output.name},
                  {"kind", output.kind},
                  {"state", output.state},
                  {"target", output.target},
                  {"sent", output.sent},
                  {"pending", output.pending},
                  {"dead_letters", output.deadLetters},
                  {"errors", Json::object()}};
        for (const auto& [reason, count] : output.errors) {
            json["errors"][reason] = count;
        }
        if (!output.lastError.empty()) {
            json["last_error"] = output.lastError;
        }
        if (output.retryInMs >= 0) {
            json["retry_in_ms"] = output.retryInMs;
        }
        outputs.push_back(std::move(json));
    }
    return JsonAnswer(200, {{"outputs", outputs}});
}

HttpAnswer SnapshotAnswer(const Route& route, const SiteSnapshot& site) {
    switch (route.kind) {
        case RouteKind::kHealth:
            return HealthAnswer(site);
        case RouteKind::kMetrics:
            return HttpAnswer{200, kMetricsContentType, MetricsText(site), {}};
        case RouteKind::kSite:
            return SiteAnswer(site);
        case RouteKind::kReaders:
            return ReadersAnswer(site);
        case RouteKind::kOutputs:
            return OutputsAnswer(site);
        case RouteKind::kReader:
        case RouteKind::kSettingsSchema: {
            const ReaderSnapshot* reader = FindReader(site, route.reader);
            if (reader == nullptr) {
                return UnknownReaderAnswer(route.reader);
            }
            return route.kind == RouteKind::kReader ? JsonAnswer(200, ReaderJson(*reader))
                                                    : SchemaAnswer(*reader);
        }
        case RouteKind::kZones:
            return ZonesAnswer(site);
        case RouteKind::kZoneTags:
            return ZoneTagsAnswer(site, route.reader);
        case RouteKind::kWrongMethod: {
            HttpAnswer answer = ErrorAnswer(405, "this path takes " + route.allow);
            answer.headers.emplace_back("Allow", route.allow);
            return answer;
        }
        default:
            return ErrorAnswer(404, "nothing is at this path");
    }
}

std::variant<Command, HttpAnswer> CommandOf(const Route& route, std::string_view body) {
    if (route.command != CommandKind::kSetSettings) {
        return Command{route.command, {}, false};
    }
    const Json settings = Json::parse(body, nullptr, false);
    if (!settings.is_object()) {
        return ErrorAnswer(400,
                           "the body must be a JSON object of settings, as `zendrik set` takes them: "
                           "{\"power\":20}");
    }
    return CommandWithArgs(route.command, settings);
}

HttpAnswer OutcomeAnswer(const CommandOutcome& outcome) {
    if (outcome.ok()) {
        return HttpAnswer{200, kJsonContentType, outcome.resultJson.empty() ? "{}" : outcome.resultJson, {}};
    }
    HttpAnswer answer = ErrorAnswer(StatusOf(outcome.failure), outcome.words, outcome.code);
    if (outcome.failure == CommandFailure::kBusy) {
        answer.headers.emplace_back("Retry-After", kBusyRetrySeconds);
    }
    return answer;
}

HttpAnswer ErrorAnswer(unsigned status, std::string_view words, int32_t code) {
    Json json;
    json["error"] = words;
    if (code != 0) {
        json["code"] = code;
    }
    return JsonAnswer(status, json);
}

HttpAnswer UnknownReaderAnswer(std::string_view name) {
    return ErrorAnswer(404, "no reader named \"" + std::string(name) + "\"", kCodeUnknownReader);
}

HttpAnswer UnauthorizedAnswer() {
    HttpAnswer answer = ErrorAnswer(401, "a token is needed: Authorization: Bearer TOKEN");
    answer.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"zendrikd\"");
    return answer;
}

const ReaderSnapshot* FindReader(const SiteSnapshot& site, std::string_view name) {
    for (const ReaderSnapshot& reader : site.readers) {
        if (reader.name == name) {
            return &reader;
        }
    }
    return nullptr;
}

AccessRole RoleNeeded(const Route& route) {
    if (route.kind == RouteKind::kReload) {
        return AccessRole::kAdmin;
    }
    if (route.kind != RouteKind::kCommand) {
        return AccessRole::kViewer;
    }
    switch (route.command) {
        case CommandKind::kSetSettings:
        case CommandKind::kStart:
        case CommandKind::kStop:
            return AccessRole::kOperator;
        case CommandKind::kFactoryDefault:
            return AccessRole::kAdmin;
        default:
            return AccessRole::kViewer;
    }
}

std::optional<HttpIdentity> IdentityOf(std::string_view given, const std::vector<HttpToken>& tokens) {
    const HttpToken* holder = nullptr;
    for (const HttpToken& token : tokens) {
        // Every token is compared, also after one matched.
        const bool matches = TokenMatches(given, token.secret);
        holder = matches ? &token : holder;
    }
    if (holder == nullptr) {
        return std::nullopt;
    }
    return HttpIdentity{holder->name, holder->role};
}

std::string ForbiddenWords(const HttpIdentity& identity, AccessRole needed) {
    return identity.name + " is " + Article(identity.role) + " " + AccessRoleWords(identity.role) +
           ": this needs the " + AccessRoleWords(needed) + " role";
}

HttpAnswer ForbiddenAnswer(const HttpIdentity& identity, AccessRole needed) {
    Json json;
    json["error"] = ForbiddenWords(identity, needed);
    json["code"] = kCodeForbidden;
    json["role"] = AccessRoleWords(needed);
    return JsonAnswer(403, json);
}

HttpAnswer WhoAmIAnswer(const HttpIdentity& identity, bool tokenNeeded) {
    Json may = Json::array();
    for (const Permission& permission : kPermissions) {
        if (identity.role >= permission.role) {
            may.push_back(permission.action);
        }
    }
    return JsonAnswer(200, Json{{"name", identity.name},
                                {"role", AccessRoleWords(identity.role)},
                                {"token_needed", tokenNeeded},
                                {"may", may}});
}

std::variant<AuditQuery, HttpAnswer> AuditQueryOf(const AuditQueryText& text) {
    AuditQuery query;
    query.reader = std::string(text.reader);
    query.actor = std::string(text.actor);
    if (!text.since.empty()) {
        const std::optional<int64_t> since = text.since.find('T') != std::string_view::npos
                                                 ? base::ParseUtcText(text.since)
                                                 : WholeNumber(text.since);
        if (!since) {
            return ErrorAnswer(400,
                               "since must be a UTC time as the entries write it (2026-12-10T08:00:00.000Z) "
                               "or milliseconds since 1970");
        }
        query.sinceMs = *since;
    }
    if (!text.limit.empty()) {
        const std::optional<int64_t> limit = WholeNumber(text.limit);
        if (!limit || *limit < 1 || *limit > static_cast<int64_t>(kAuditPageMax)) {
            return ErrorAnswer(400, "limit must be a whole number from 1 to 1000");
        }
        query.limit = static_cast<std::size_t>(*limit);
    }
    if (!text.before.empty()) {
        const std::optional<int64_t> before = WholeNumber(text.before);
        if (!before || *before < 1) {
            return ErrorAnswer(400, "before must be the \"next\" of an earlier page");
        }
        query.beforeId = *before;
    }
    return query;
}

HttpAnswer AuditAnswer(const AuditPage& page) {
    Json entries = Json::array();
    for (const AuditRecord& record : page.entries) {
        entries.push_back(AuditRecordJson(record));
    }
    return JsonAnswer(200,
                      Json{{"entries", entries}, {"next", page.next ? Json(*page.next) : Json(nullptr)}});
}

bool TokenMatches(std::string_view given, std::string_view token) {
    if (token.empty()) {
        return false;
    }
    unsigned difference = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |=
            static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(token[i % token.size()]);
    }
    return difference == 0;
}

}  // namespace zendrik::daemon
