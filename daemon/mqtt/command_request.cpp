#include "daemon/mqtt/command_request.h"

#include <nlohmann/json.hpp>

#include "base/time_text.h"
#include "daemon/common/json_text.h"
#include "daemon/common/payloads.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kEmptyObject = "{}";

std::optional<std::string> TextField(const Json& request, const char* key) {
    const auto found = request.find(key);
    if (found == request.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

// A text as a JSON string, or null.
std::string JsonTextOrNull(const std::optional<std::string>& text) {
    return text ? JsonText(Json(*text)) : "null";
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
    static const Json kNoArgs = Json::object();
    const Json* args = &kNoArgs;
    if (const auto given = json.find("args"); given != json.end() && !given->is_null()) {
        if (!given->is_object()) {
            request.refusal = BadRequest("the args must be a JSON object");
            return request;
        }
        args = &*given;
    }
    request.run = ParseCommand(*request.command, *args);
    return request;
}

std::string CommandReplyJson(const CommandRequest& request, const CommandOutcome& outcome, int64_t timeMs) {
    std::string reply = "{\"id\":" + JsonTextOrNull(request.id) +
                        ",\"command\":" + JsonTextOrNull(request.command) +
                        ",\"ok\":" + (outcome.ok() ? "true" : "false");
    if (outcome.ok()) {
        reply += ",\"result\":";
        reply += outcome.resultJson.empty() ? kEmptyObject : std::string_view(outcome.resultJson);
    } else {
        reply += ",\"error\":" + JsonText(Json{{"code", outcome.code}, {"words", outcome.words}});
    }
    reply += ",\"time\":" + JsonText(Json(base::UtcText(timeMs))) + "}";
    return reply;
}

}  // namespace zendrik::daemon
