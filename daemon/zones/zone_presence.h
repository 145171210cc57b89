#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "daemon/config/config.h"
#include "daemon/zones/sighting.h"

namespace zendrik::daemon {

// A tag that came into a zone or left it.
struct ZoneChange {
    enum class Kind { kEntered, kLeft };
    enum class Reason { kNone, kAbsent, kMoved };
    Kind kind = Kind::kEntered;
    std::string zone;
    std::string epc;
    std::string card;
    std::string reader;  // entered: the reader that read it first there; left: the one that read it last
    int64_t timeMs = 0;
    Reason reason = Reason::kNone;          // left only
    std::string otherZone;                  // entered: the zone it came from; left (moved): where it went
    int64_t sinceMs = 0;                    // the visit's first read in the zone
    int64_t lastSeenMs = 0;                 // left: its last read there
    uint64_t reads = 0;                     // left: its reads in the zone during the visit
    std::vector<std::string> readers = {};  // left: the zone's readers that read it, in order of first read

    bool operator==(const ZoneChange&) const = default;
};

// A tag in the zone now, as the site's questions want it.
struct ZoneTag {
    std::string epc;
    std::string card;
    int64_t sinceMs = 0;
    int64_t lastSeenMs = 0;
    std::string lastReader;
    uint64_t reads = 0;
};

// Where every tag of a site is: in one zone at most. A tag read by any reader of a zone is in it
// until none of them has read it for the zone's absence time. Read by another zone's readers
// meanwhile, it moves there once its zone has not read it for kMoveQuietMs: a tag in the overlap
// of two fields, read by both in turn, stays where it is instead of flapping between them.
//
// Pure logic on the time it is given: reads carry their own, and AdvanceTo() brings the clock on,
// each change made at the moment it falls due, so that a test plays any scene in simulated time.
class ZonePresence {
  public:
    static constexpr int64_t kMoveQuietMs = 1000;

    explicit ZonePresence(const std::vector<ZoneConfig>& zones);

    // Takes a read (ignored when its reader is in no zone); what changed goes into `changes`,
    // those that fell due before it first.
    void Read(const Sighting& read, std::vector<ZoneChange>& changes);
    // Brings the clock to `nowMs`: every tag whose zone has lost it by then leaves (or moves).
    void AdvanceTo(int64_t nowMs, std::vector<ZoneChange>& changes);
    // When the next change falls due without another read; nothing while no tag is in a zone.
    std::optional<int64_t> NextDueMs() const;

    const std::vector<ZoneConfig>& zones() const { return zones_; }
    std::size_t TagsIn(const std::string& zone) const;
    std::vector<ZoneTag> TagsOf(const std::string& zone) const;
    // The zone a tag is in now and its visit there.
    std::optional<std::pair<std::string, ZoneTag>> Find(const std::string& epc) const;
    // Every visit still open, as a zone-left at `atMs` would end it (the daemon stops).
    std::vector<ZoneChange> OpenVisits(int64_t atMs) const;

  private:
    struct Visit {
        std::size_t zone = 0;
        int64_t sinceMs = 0;
        int64_t lastSeenMs = 0;
        uint64_t reads = 0;
        std::string card;
        std::string firstReader;
        std::string lastReader;
        std::vector<std::string> readers;
    };
    struct Tag {
        Visit visit;
        std::optional<Visit> elsewhere;  // reads of another zone since this one last read it
        int64_t dueMs = 0;
    };

    void Enter(const std::string& epc, const Visit& visit, const std::string& from, int64_t atMs,
               std::vector<ZoneChange>& changes);
    void Leave(const std::string& epc, Tag& tag, int64_t atMs, std::vector<ZoneChange>& changes);
    void Reschedule(const std::string& epc, Tag& tag);
    void FallDue(const std::string& epc, int64_t atMs, std::vector<ZoneChange>& changes);
    ZoneTag Describe(const std::string& epc, const Visit& visit) const;

    std::vector<ZoneConfig> zones_;
    std::map<std::string, std::size_t> zoneOfReader_;
    std::unordered_map<std::string, Tag> tags_;
    std::set<std::pair<int64_t, std::string>> due_;  // (due time, EPC): one entry per tag
    std::vector<std::size_t> counts_;                // tags in each zone
    int64_t nowMs_ = 0;
};

}  // namespace zendrik::daemon
