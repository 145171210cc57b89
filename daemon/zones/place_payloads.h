#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/common/event_kinds.h"
#include "daemon/zones/door_passes.h"
#include "daemon/zones/zone_presence.h"

namespace zendrik::daemon {

// {"event":"zone-entered","zone":Z,"seq":N,"epc":E,"card":C,"time":T,"reader":R,"from":Z2}
// ("from" only when it moved from another zone);
// {"event":"zone-left","zone":Z,"seq":N,"epc":E,"card":C,"time":T,"reader":R,"reason":"absent"|"moved",
//  "dwell_ms":D,"reads":N,"to":Z2} ("to" only when it moved). card is null for a reader without a
// Wiegand number; dwell_ms runs from the visit's first read to its last.
std::string ZoneChangeJson(const ZoneChange& change, uint64_t seq);

// {"event":"passage","door":D,"seq":N,"epc":E,"card":C,"direction":"in"|"out","time":T,
//  "outside_at":T1,"inside_at":T2}
std::string PassageJson(const Passage& passage, uint64_t seq);

// The sequence numbers of zones and doors are kept in the spool beside the readers' under names
// no reader can have (reader names are single topic levels): "zones/ZONE" and "doors/DOOR".
std::string ZoneSeqOwner(const std::string& zone);
std::string DoorSeqOwner(const std::string& door);

// A zone's or door's sequence owner split back: its kind ("zone" or "door") and name; nothing
// for a reader.
struct Place {
    std::string kind;
    std::string name;
};
std::optional<Place> PlaceOfSeqOwner(const std::string& owner);

// {"event":"spool-lost","zone"|"door":NAME,"seq":N,"time":T,"missing_from":N,"missing_to":M}
std::string PlaceSpoolLostJson(const Place& place, uint64_t seq, int64_t timeMs, uint64_t missingFrom,
                               uint64_t missingTo);

}  // namespace zendrik::daemon
