#include "daemon/site/history_answers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "base/time_text.h"
#include "daemon/common/json_text.h"

namespace zendrik::daemon {
namespace {

using Json = nlohmann::ordered_json;

// An EPC an event holds is at most 64 bytes.
constexpr std::size_t kEpcMostDigits = 128;

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json VisitJson(const VisitRecord& visit) {
    return Json{{"zone", visit.zone},
                {"entered", base::UtcText(visit.enteredMs)},
                {"left", base::UtcText(visit.leftMs)},
                {"reads", visit.reads},
                {"readers", visit.readers}};
}

Json PassageJson(const PassageRecord& passage) {
    return Json{{"door", passage.door},
                {"epc", passage.epc},
                {"card", TextOrNull(passage.card)},
                {"direction", passage.direction},
                {"time", base::UtcText(passage.timeMs)},
                {"outside_at", base::UtcText(passage.outsideAtMs)},
                {"inside_at", base::UtcText(passage.insideAtMs)}};
}

HttpAnswer JsonAnswer(const Json& json) {
    return HttpAnswer{200, kJsonContentType, JsonText(json), {}};
}

// A moment as UTC text or as Unix milliseconds.
std::optional<int64_t> MomentOf(const std::string& text) {
    int64_t ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error == std::errc{} && end == text.data() + text.size()) {
        return ms;
    }
    // Whole seconds are taken as the event texts' milliseconds would be.
    const bool wholeSeconds = !text.empty() && text.back() == 'Z' && text.find('.') == std::string::npos;
    return base::ParseUtcText(wholeSeconds ? text.substr(0, text.size() - 1) + ".000Z" : text);
}

}  // namespace

std::optional<std::string> EpcOfPath(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0 || text.size() > kEpcMostDigits ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    std::string epc(text);
    std::transform(epc.begin(), epc.end(), epc.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return epc;
}

HttpAnswer TagAnswer(const std::string& epc, const std::optional<std::pair<std::string, ZoneTag>>& now,
                     const std::vector<VisitRecord>& visits, const std::vector<PassageRecord>& passages) {
    if (!now && visits.empty() && passages.empty()) {
        return ErrorAnswer(404, "tag " + epc + " was never seen in a zone or at a door");
    }
    // What the tag was last seen by: now in a zone, else its newest visit or passage.
    std::string card;
    int64_t lastSeenMs = 0;
    std::string lastReader;
    if (!visits.empty()) {
        card = visits.front().card;
        lastSeenMs = visits.front().lastSeenMs;
        lastReader = visits.front().lastReader;
    }
    if (!passages.empty() && passages.front().timeMs > lastSeenMs) {
        card = passages.front().card;
        lastSeenMs = passages.front().timeMs;
        lastReader.clear();  // a passage names its door, not a reader
    }
    if (now) {
        card = now->second.card;
        lastSeenMs = now->second.lastSeenMs;
        lastReader = now->second.lastReader;
    }
    Json json;
    json["epc"] = epc;
    json["card"] = TextOrNull(card);
    json["zone"] = now ? Json(now->first) : Json(nullptr);
    json["since"] = now ? Json(base::UtcText(now->second.sinceMs)) : Json(nullptr);
    json["last_seen"] = base::UtcText(lastSeenMs);
    json["last_reader"] = TextOrNull(lastReader);
    json["visits"] = Json::array();
    for (const VisitRecord& visit : visits) {
        json["visits"].push_back(VisitJson(visit));
    }
    json["passages"] = Json::array();
    for (const PassageRecord& passage : passages) {
        json["passages"].push_back(PassageJson(passage));
    }
    return JsonAnswer(json);
}

std::variant<PassageQuery, HttpAnswer> PassageQueryOf(const std::map<std::string, std::string>& arguments) {
    PassageQuery query;
    query.limit = kHistoryAnswerLimit;
    for (const auto& [key, value] : arguments) {
        if (key == "door") {
            query.door = value;
        } else if (key == "direction") {
            if (value != "in" && value != "out") {
                return ErrorAnswer(400, "direction is \"in\" or \"out\", not \"" + value + "\"");
            }
            query.direction = value;
        } else if (key == "since" || key == "until") {
            const std::optional<int64_t> moment = MomentOf(value);
            if (!moment) {
                return ErrorAnswer(400, key + " is a UTC time (2025-12-10T08:00:00Z) or Unix milliseconds");
            }
            (key == "since" ? query.sinceMs : query.untilMs) = moment;
        } else if (key == "limit" || key == "before") {
            int64_t number = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            const bool whole = error == std::errc{} && end == value.data() + value.size() && number > 0;
            if (!whole || (key == "limit" && number > static_cast<int64_t>(kPassagePageMost))) {
                return ErrorAnswer(400, key == "limit" ? "limit is a number from 1 to 500"
                                                       : "before is the \"next\" of the page before");
            }
            if (key == "limit") {
                query.limit = static_cast<std::size_t>(number);
            } else {
                query.beforeId = number;
            }
        }
    }
    return query;
}

HttpAnswer PassagesAnswer(const std::vector<PassageRecord>& passages, std::size_t limit) {
    Json json;
    json["passages"] = Json::array();
    for (const PassageRecord& passage : passages) {
        json["passages"].push_back(PassageJson(passage));
    }
    json["next"] = passages.size() == limit && !passages.empty() ? Json(passages.back().id) : Json(nullptr);
    return JsonAnswer(json);
}

}  // namespace zendrik::daemon
