#include "daemon/zones/zone_presence.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

template <typename Visit>
void Seen(Visit& visit, const Sighting& read, int64_t atMs) {
    visit.lastSeenMs = atMs;
    ++visit.reads;
    visit.card = read.card;
    visit.lastReader = read.reader;
    if (std::find(visit.readers.begin(), visit.readers.end(), read.reader) == visit.readers.end()) {
        visit.readers.push_back(read.reader);
    }
}

}  // namespace

ZonePresence::ZonePresence(const std::vector<ZoneConfig>& zones) : zones_(zones), counts_(zones.size(), 0) {
    for (std::size_t zone = 0; zone < zones_.size(); ++zone) {
        for (const std::string& reader : zones_[zone].readers) {
            zoneOfReader_.emplace(reader, zone);
        }
    }
}

void ZonePresence::Read(const Sighting& read, std::vector<ZoneChange>& changes) {
    const auto zoneOf = zoneOfReader_.find(read.reader);
    if (zoneOf == zoneOfReader_.end()) {
        return;
    }
    AdvanceTo(read.timeMs, changes);
    // Reads of several readers may come a little out of order: time never goes back for a tag.
    const int64_t atMs = nowMs_;
    const std::size_t zone = zoneOf->second;
    const Visit first{zone, atMs, atMs, 1, read.card, read.reader, read.reader, {read.reader}};
    const auto found = tags_.find(read.epc);
    if (found == tags_.end()) {
        Enter(read.epc, first, "", atMs, changes);
        return;
    }
    Tag& tag = found->second;
    if (tag.visit.zone == zone) {
        Seen(tag.visit, read, atMs);
        tag.elsewhere.reset();  // its zone reads it still: reads elsewhere meanwhile do not move it
    } else if (tag.elsewhere && tag.elsewhere->zone == zone) {
        Seen(*tag.elsewhere, read, atMs);
    } else {
        tag.elsewhere = first;
    }
    Reschedule(read.epc, tag);
    AdvanceTo(atMs, changes);  // a move that is due at once
}

void ZonePresence::AdvanceTo(int64_t nowMs, std::vector<ZoneChange>& changes) {
    while (!due_.empty() && due_.begin()->first <= nowMs) {
        const auto [dueMs, epc] = *due_.begin();
        due_.erase(due_.begin());
        nowMs_ = std::max(nowMs_, dueMs);
        FallDue(epc, dueMs, changes);
    }
    nowMs_ = std::max(nowMs_, nowMs);
}

std::optional<int64_t> ZonePresence::NextDueMs() const {
    if (due_.empty()) {
        return std::nullopt;
    }
    return due_.begin()->first;
}

void ZonePresence::Enter(const std::string& epc, const Visit& visit, const std::string& from, int64_t atMs,
                         std::vector<ZoneChange>& changes) {
    Tag& tag = tags_[epc];
    tag.visit = visit;
    tag.elsewhere.reset();
    ++counts_[visit.zone];
    changes.push_back(ZoneChange{ZoneChange::Kind::kEntered, zones_[visit.zone].name, epc, visit.card,
                                 visit.firstReader, atMs, ZoneChange::Reason::kNone, from, visit.sinceMs,
                                 visit.lastSeenMs, visit.reads});
    Reschedule(epc, tag);
}

void ZonePresence::Leave(const std::string& epc, Tag& tag, int64_t atMs, std::vector<ZoneChange>& changes) {
    const Visit& visit = tag.visit;
    const bool moved = tag.elsewhere.has_value();
    --counts_[visit.zone];
    changes.push_back(ZoneChange{ZoneChange::Kind::kLeft, zones_[visit.zone].name, epc, visit.card,
                                 visit.lastReader, atMs,
                                 moved ? ZoneChange::Reason::kMoved : ZoneChange::Reason::kAbsent,
                                 moved ? zones_[tag.elsewhere->zone].name : "", visit.sinceMs,
                                 visit.lastSeenMs, visit.reads, visit.readers});
}

std::vector<ZoneChange> ZonePresence::OpenVisits(int64_t atMs) const {
    std::vector<ZoneChange> open;
    for (const auto& [epc, tag] : tags_) {
        const Visit& visit = tag.visit;
        open.push_back(ZoneChange{ZoneChange::Kind::kLeft, zones_[visit.zone].name, epc, visit.card,
                                  visit.lastReader, atMs, ZoneChange::Reason::kNone, "", visit.sinceMs,
                                  visit.lastSeenMs, visit.reads, visit.readers});
    }
    return open;
}

// A tag seen elsewhere moves once its zone has been quiet long enough (and not before the other
// zone read it); otherwise it leaves when its zone's absence time has passed.
void ZonePresence::Reschedule(const std::string& epc, Tag& tag) {
    due_.erase({tag.dueMs, epc});
    const int64_t absentAt = tag.visit.lastSeenMs + zones_[tag.visit.zone].absenceMs;
    tag.dueMs = absentAt;
    if (tag.elsewhere) {
        tag.dueMs = std::min(absentAt, std::max(tag.visit.lastSeenMs + kMoveQuietMs, tag.elsewhere->sinceMs));
    }
    due_.emplace(tag.dueMs, epc);
}

void ZonePresence::FallDue(const std::string& epc, int64_t atMs, std::vector<ZoneChange>& changes) {
    const auto found = tags_.find(epc);
    if (found == tags_.end()) {
        return;
    }
    Tag& tag = found->second;
    Leave(epc, tag, atMs, changes);
    if (!tag.elsewhere) {
        tags_.erase(found);
        return;
    }
    const std::string from = zones_[tag.visit.zone].name;
    const Visit next = *tag.elsewhere;
    Enter(epc, next, from, atMs, changes);
}

ZoneTag ZonePresence::Describe(const std::string& epc, const Visit& visit) const {
    return ZoneTag{epc, visit.card, visit.sinceMs, visit.lastSeenMs, visit.lastReader, visit.reads};
}

std::size_t ZonePresence::TagsIn(const std::string& zone) const {
    for (std::size_t index = 0; index < zones_.size(); ++index) {
        if (zones_[index].name == zone) {
            return counts_[index];
        }
    }
    return 0;
}

std::vector<ZoneTag> ZonePresence::TagsOf(const std::string& zone) const {
    std::vector<ZoneTag> tags;
    for (const auto& [epc, tag] : tags_) {
        if (zones_[tag.visit.zone].name == zone) {
            tags.push_back(Describe(epc, tag.visit));
        }
    }
    std::sort(tags.begin(), tags.end(), [](const ZoneTag& a, const ZoneTag& b) {
        return a.sinceMs != b.sinceMs ? a.sinceMs < b.sinceMs : a.epc < b.epc;
    });
    return tags;
}

std::optional<std::pair<std::string, ZoneTag>> ZonePresence::Find(const std::string& epc) const {
    const auto found = tags_.find(epc);
    if (found == tags_.end()) {
        return std::nullopt;
    }
    return std::make_pair(zones_[found->second.visit.zone].name, Describe(epc, found->second.visit));
}

}  // namespace zendrik::daemon
