#include "daemon/zones/zones_and_doors.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "daemon/readers/publish_filter.h"
#include "daemon/zones/place_payloads.h"

namespace zendrik::daemon {

ZonesAndDoors::ZonesAndDoors(const DaemonConfig& config, EventLoop& loop, std::function<void()> due,
                             Clock now)
    : presence_(config.zones), due_(std::move(due)), now_(std::move(now)) {
    for (const DoorConfig& door : config.doors) {
        doors_.emplace_back(door);
        passages_.push_back(DoorSnapshot{door.name, 0, 0});
    }
    timer_ = loop.AddTimer([this] { Advance(); });
}

void ZonesAndDoors::Read(const zendrik_event& event) {
    const Sighting read{std::string(event.reader, ::strnlen(event.reader, sizeof event.reader)),
                        EpcHex(event), std::string(event.card, ::strnlen(event.card, sizeof event.card)),
                        event.time_ms};
    Step([&](std::vector<ZoneChange>& changes, std::vector<Passage>& passages) {
        presence_.Read(read, changes);
        for (DoorPasses& door : doors_) {
            door.Read(read, passages);
        }
    });
}

void ZonesAndDoors::Advance() {
    const int64_t nowMs = now_();
    Step([&](std::vector<ZoneChange>& changes, std::vector<Passage>& passages) {
        presence_.AdvanceTo(nowMs, changes);
        for (DoorPasses& door : doors_) {
            door.AdvanceTo(nowMs, passages);
        }
    });
}

void ZonesAndDoors::EndPasses() {
    Step([&](std::vector<ZoneChange>&, std::vector<Passage>& passages) {
        for (DoorPasses& door : doors_) {
            door.EndAll(passages);
        }
    });
}

void ZonesAndDoors::Step(const std::function<void(std::vector<ZoneChange>&, std::vector<Passage>&)>& step) {
    std::vector<ZoneChange> changes;
    std::vector<Passage> passages;
    step(changes, passages);
    Collect(changes, passages);
    ArmTimer();
}

void ZonesAndDoors::Collect(std::vector<ZoneChange>& changes, std::vector<Passage>& passages) {
    if (changes.empty() && passages.empty()) {
        return;
    }
    for (ZoneChange& change : changes) {
        if (history_ != nullptr && change.kind == ZoneChange::Kind::kLeft) {
            history_->Note(change);
        }
        waiting_.emplace_back(std::move(change));
    }
    for (Passage& passage : passages) {
        for (DoorSnapshot& door : passages_) {
            if (door.name == passage.door) {
                ++(passage.in ? door.passagesIn : door.passagesOut);
            }
        }
        if (history_ != nullptr) {
            history_->Note(passage);
        }
        waiting_.emplace_back(std::move(passage));
    }
    due_();
}

void ZonesAndDoors::ArmTimer() {
    std::optional<int64_t> next = presence_.NextDueMs();
    for (const DoorPasses& door : doors_) {
        if (const auto doorNext = door.NextDueMs(); doorNext && (!next || *doorNext < *next)) {
            next = doorNext;
        }
    }
    if (!next) {
        timer_.Disarm();
        return;
    }
    timer_.ArmIn(std::chrono::milliseconds{std::max<int64_t>(0, *next - now_())});
}

void ZonesAndDoors::TakeInto(Spool::Burst& burst, const Topics& topics,
                             const std::function<void(StoredEvent)>& stored) {
    for (const Found& found : waiting_) {
        StoredEvent event;
        if (const auto* change = std::get_if<ZoneChange>(&found)) {
            event.reader = ZoneSeqOwner(change->zone);
            event.kind = change->kind == ZoneChange::Kind::kEntered ? kZoneEnteredEvent : kZoneLeftEvent;
            event.seq = burst.Add(event.reader, topics.ZoneEvents(change->zone), [&](uint64_t seq) {
                event.payload = ZoneChangeJson(*change, seq);
                return event.payload;
            });
        } else {
            const Passage& passage = std::get<Passage>(found);
            event.reader = DoorSeqOwner(passage.door);
            event.kind = kPassageEvent;
            event.seq = burst.Add(event.reader, topics.DoorPassages(passage.door), [&](uint64_t seq) {
                event.payload = PassageJson(passage, seq);
                return event.payload;
            });
        }
        stored(std::move(event));
    }
    waiting_.clear();
}

void ZonesAndDoors::Snapshot(std::vector<ZoneSnapshot>& zones, std::vector<DoorSnapshot>& doors) const {
    for (const ZoneConfig& zone : presence_.zones()) {
        ZoneSnapshot snapshot{zone.name, zone.readers, {}};
        for (const ZoneTag& tag : presence_.TagsOf(zone.name)) {
            snapshot.tags.push_back(
                ZoneTagSnapshot{tag.epc, tag.card, tag.sinceMs, tag.lastSeenMs, tag.lastReader, tag.reads});
        }
        zones.push_back(std::move(snapshot));
    }
    doors = passages_;
}

}  // namespace zendrik::daemon
