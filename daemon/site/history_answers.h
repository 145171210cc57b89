#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "daemon/http/http_routes.h"
#include "daemon/store/history.h"
#include "daemon/zones/zone_presence.h"

namespace zendrik::daemon {

// Tags and passages asked at most, per answer.
inline constexpr std::size_t kHistoryAnswerLimit = 50;
inline constexpr std::size_t kPassagePageMost = 500;

// An EPC as the events write it (lower-case hex), from one in any letter case; nothing for one
// that is not hex of whole bytes.
std::optional<std::string> EpcOfPath(std::string_view text);

// GET /api/v1/tags/EPC: {"epc","card","zone","since","last_seen","last_reader","visits":[…],
// "passages":[…]}, `now` where the tag is at the moment; 404 for a tag never seen.
HttpAnswer TagAnswer(const std::string& epc, const std::optional<std::pair<std::string, ZoneTag>>& now,
                     const std::vector<VisitRecord>& visits, const std::vector<PassageRecord>& passages);

// The query of GET /api/v1/passages (door, direction, since, until as UTC text or Unix ms, limit,
// before), or its 400 answer.
std::variant<PassageQuery, HttpAnswer> PassageQueryOf(const std::map<std::string, std::string>& arguments);

// {"passages":[…],"next":ID} with `next` the cursor for &before= (null on the last page).
HttpAnswer PassagesAnswer(const std::vector<PassageRecord>& passages, std::size_t limit);

}  // namespace zendrik::daemon
