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

enum class DoorSide { kOutside, kInside };

// A tag that went through a door.
struct Passage {
    std::string door;
    std::string epc;
    std::string card;
    bool in = false;          // from outside to inside; false: out
    int64_t timeMs = 0;       // the pass's last read
    int64_t outsideAtMs = 0;  // its first read on the outer side
    int64_t insideAtMs = 0;   // its first read on the inner side

    bool operator==(const Passage&) const = default;
};

// The passes of tags through one door. A pass is a run of reads of one tag by the door's readers
// with no gap longer than the settle time; when it is over, the side of its first read against
// that of its last tells the direction. A tag seen on one side only, or that turned back to the
// side it came from, went through nowhere.
//
// Pure logic on the time it is given, like ZonePresence.
class DoorPasses {
  public:
    explicit DoorPasses(const DoorConfig& door);

    // Takes a read (ignored when its reader is not at the door); passes that were over before
    // it first.
    void Read(const Sighting& read, std::vector<Passage>& passages);
    void AdvanceTo(int64_t nowMs, std::vector<Passage>& passages);
    // Ends every pass now (the daemon stops): those that crossed are passages.
    void EndAll(std::vector<Passage>& passages);
    std::optional<int64_t> NextDueMs() const;

    const DoorConfig& config() const { return door_; }

  private:
    struct Pass {
        DoorSide firstSide = DoorSide::kOutside;
        DoorSide lastSide = DoorSide::kOutside;
        int64_t lastMs = 0;
        std::optional<int64_t> outsideAtMs;
        std::optional<int64_t> insideAtMs;
        std::string card;
    };

    int64_t DueOf(const Pass& pass) const;
    void End(const std::string& epc, const Pass& pass, std::vector<Passage>& passages) const;

    DoorConfig door_;
    std::map<std::string, DoorSide> sideOfReader_;
    std::unordered_map<std::string, Pass> passes_;
    std::set<std::pair<int64_t, std::string>> due_;  // (end of the pass, EPC)
    int64_t nowMs_ = 0;
};

}  // namespace zendrik::daemon
