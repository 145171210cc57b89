#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "daemon/common/snapshot.h"
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
};

// What a request asks for, decided from its method and path alone.
struct Route {
    RouteKind kind = RouteKind::kNotFound;
    std::string reader;                        // the reader a path names
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

// Compares a token given by a client with the configured one in a time that does not depend on
// how much of it is right.
bool TokenMatches(std::string_view given, std::string_view token);

}  // namespace zendrik::daemon
