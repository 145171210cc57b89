#include "daemon/zones/place_payloads.h"

#include <algorithm>

#include "base/time_text.h"
#include "daemon/common/json_text.h"
#include "daemon/common/payloads.h"

namespace zendrik::daemon {
namespace {

constexpr std::string_view kZonesLevel = "zones/";
constexpr std::string_view kDoorsLevel = "doors/";

nlohmann::ordered_json Card(const std::string& card) {
    return card.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(card);
}

}  // namespace

std::string ZoneChangeJson(const ZoneChange& change, uint64_t seq) {
    const bool entered = change.kind == ZoneChange::Kind::kEntered;
    nlohmann::ordered_json json;
    json["event"] = std::string(entered ? kZoneEnteredEvent : kZoneLeftEvent);
    json["zone"] = change.zone;
    json["seq"] = seq;
    json["epc"] = change.epc;
    json["card"] = Card(change.card);
    json["time"] = base::UtcText(change.timeMs);
    json["reader"] = change.reader;
    if (entered) {
        if (!change.otherZone.empty()) {
            json["from"] = change.otherZone;
        }
        return JsonText(json);
    }
    const bool moved = change.reason == ZoneChange::Reason::kMoved;
    json["reason"] = moved ? "moved" : "absent";
    json["dwell_ms"] = std::max<int64_t>(0, change.lastSeenMs - change.sinceMs);
    json["reads"] = change.reads;
    if (moved) {
        json["to"] = change.otherZone;
    }
    return JsonText(json);
}

std::string PassageJson(const Passage& passage, uint64_t seq) {
    nlohmann::ordered_json json;
    json["event"] = std::string(kPassageEvent);
    json["door"] = passage.door;
    json["seq"] = seq;
    json["epc"] = passage.epc;
    json["card"] = Card(passage.card);
    json["direction"] = passage.in ? "in" : "out";
    json["time"] = base::UtcText(passage.timeMs);
    json["outside_at"] = base::UtcText(passage.outsideAtMs);
    json["inside_at"] = base::UtcText(passage.insideAtMs);
    return JsonText(json);
}

std::string ZoneSeqOwner(const std::string& zone) {
    return std::string(kZonesLevel) + zone;
}

std::string DoorSeqOwner(const std::string& door) {
    return std::string(kDoorsLevel) + door;
}

std::optional<Place> PlaceOfSeqOwner(const std::string& owner) {
    const std::string_view text = owner;
    if (text.starts_with(kZonesLevel)) {
        return Place{"zone", std::string(text.substr(kZonesLevel.size()))};
    }
    if (text.starts_with(kDoorsLevel)) {
        return Place{"door", std::string(text.substr(kDoorsLevel.size()))};
    }
    return std::nullopt;
}

std::string PlaceSpoolLostJson(const Place& place, uint64_t seq, int64_t timeMs, uint64_t missingFrom,
                               uint64_t missingTo) {
    nlohmann::ordered_json json;
    json["event"] = std::string(kSpoolLostEvent);
    json[place.kind] = place.name;
    json["seq"] = seq;
    json["time"] = base::UtcText(timeMs);
    json["missing_from"] = missingFrom;
    json["missing_to"] = missingTo;
    return JsonText(json);
}

}  // namespace zendrik::daemon
