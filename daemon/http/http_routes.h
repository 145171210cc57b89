#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "daemon/audit/audit_log.h"
#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/control/command.h"
#include "daemon/control/command_outcome.h"

namespace zendrik::daemon {

inline constexpr const char* kJsonContentType = "application/json";

// What the server sends back: a status, a body and its type, and headers beyond those.
struct HttpAnswer {
    unsigned status = 200;
    std::string contentType = kJsonContentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

enum class RouteKind {
    kNotFound,
    kWrongMethod,
    kHealth,
    kMetrics,
    kSite,
    kReaders,
    kOutputs,
    kReader,
    kSettingsSchema,
    kCommand,
    kEvents,
    kConsoleFile,
    kWhoAmI,
    kReload,
    kAudit,
    kZones,
    kZoneTags,
    kTag,       // the history of one tag: `reader` holds its EPC
    kPassages,  // the doors' passages, a page at a time
};

// What a request asks for, decided from its method and path alone.
struct Route {
    RouteKind kind = RouteKind::kNotFound;
    std::string reader;                        // the reader a path names (kZoneTags: the zone)
    CommandKind command = CommandKind::kInfo;  // kCommand: the command it runs
    std::string file;                          // kConsoleFile: the file below the console's folder
    std::string allow;                         // kWrongMethod: the methods the path takes
    bool open = false;  // answered without the token: the health check and the console's files
};

// HEAD is taken wherever GET is, as HTTP asks.
Route RouteOf(std::string_view method, std::string_view path);

// The answer of a route that a snapshot answers: health, metrics, the site, the readers, a
// reader's settings schema; and the refusals of kNotFound and kWrongMethod.
HttpAnswer SnapshotAnswer(const Route& route, const SiteSnapshot& site);

// The command of a command route, read once: with the body's settings for set-settings (the body
// must be a JSON object), or the 400 answer of a body that is not an object.
std::variant<Command, HttpAnswer> CommandOf(const Route& route, std::string_view body);

// A command's outcome: 200 with its result, or the failure's status and words.
HttpAnswer OutcomeAnswer(const CommandOutcome& outcome);

// {"error":"words"} with "code" when there is one.
HttpAnswer ErrorAnswer(unsigned status, std::string_view words, int32_t code = 0);
HttpAnswer UnknownReaderAnswer(std::string_view name);
HttpAnswer UnauthorizedAnswer();

const ReaderSnapshot* FindReader(const SiteSnapshot& site, std::string_view name);

// Who a request comes from: the name of its token (the audit trail's actor) and its role.
struct HttpIdentity {
    std::string name;
    AccessRole role = AccessRole::kViewer;

    bool operator==(const HttpIdentity&) const = default;
};

// Who a server without any token serves: everyone, as an admin.
inline constexpr const char* kAnonymousName = "anonymous";

// The role a route needs: every GET the viewer's, the inventory and writing settings the
// operator's, the factory default and a reload the admin's. The one place that says so.
AccessRole RoleNeeded(const Route& route);

// The holder of the token given, compared with every token in a time that depends neither on
// which one matches nor on how much of one is right; nothing for a token no one holds.
std::optional<HttpIdentity> IdentityOf(std::string_view given, const std::vector<HttpToken>& tokens);

// 403: {"error":"ops-desk is a viewer: this needs the operator role","code":-301,"role":"operator"}.
HttpAnswer ForbiddenAnswer(const HttpIdentity& identity, AccessRole needed);
// Why a route was refused to an identity, in the words of ForbiddenAnswer.
std::string ForbiddenWords(const HttpIdentity& identity, AccessRole needed);

// {"name":N,"role":R,"token_needed":B,"may":["read","inventory","settings",…]}: never the token.
HttpAnswer WhoAmIAnswer(const HttpIdentity& identity, bool tokenNeeded);

// The query of GET /api/v1/audit (reader=, actor=, since= a UTC time as the entries write it or
// milliseconds since 1970, limit= 1 to 1000, before= the "next" of the page before), or its 400.
struct AuditQueryText {
    std::string_view reader, actor, since, limit, before;
};
std::variant<AuditQuery, HttpAnswer> AuditQueryOf(const AuditQueryText& text);
// {"entries":[…],"next":N|null}, newest first.
HttpAnswer AuditAnswer(const AuditPage& page);

// Compares a token given by a client with the configured one in a time that does not depend on
// how much of it is right.
bool TokenMatches(std::string_view given, std::string_view token);

}  // namespace zendrik::daemon
