#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "daemon/common/payloads.h"
#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/readers/reader_runtime.h"
#include "daemon/store/spool.h"
#include "daemon/zones/door_passes.h"
#include "daemon/zones/history_keeper.h"
#include "daemon/zones/zone_presence.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// The site's zones and doors on the loop: every read the readers store is handed to them, a timer
// on the loop brings them on when the next tag leaves or the next pass ends (a passage follows its
// last read by the settle time and a turn of the loop, not by a polling period), and what they
// found waits here until the site stores it, each zone's and door's message with its own sequence
// number in the same spool as the readers'.
class ZonesAndDoors {
  public:
    // UTC milliseconds now (tests give a clock of their own).
    using Clock = std::function<int64_t()>;

    // `due` is called when something waits to be stored.
    ZonesAndDoors(const DaemonConfig& config, EventLoop& loop, std::function<void()> due,
                  Clock now = UnixNowMs);

    // Neither a zone nor a door is configured: reads need not be handed over.
    bool empty() const { return doors_.empty() && presence_.zones().empty(); }
    // A read event of a reader (its reader name set).
    void Read(const zendrik_event& event);
    // Adds what waits to `burst`; each message is told to `stored` as the readers' are.
    void TakeInto(Spool::Burst& burst, const Topics& topics, const std::function<void(StoredEvent)>& stored);
    bool waiting() const { return !waiting_.empty(); }
    // The daemon stops: every pass through a door ends now.
    void EndPasses();

    const ZonePresence& presence() const { return presence_; }
    // Where ended visits and passages go as well (none: nowhere).
    void KeepHistory(HistoryKeeper* history) { history_ = history; }
    // Each zone with the tags in it now, each door with its passages counted.
    void Snapshot(std::vector<ZoneSnapshot>& zones, std::vector<DoorSnapshot>& doors) const;

  private:
    using Found = std::variant<ZoneChange, Passage>;

    void Advance();
    // Runs one step of the zones and doors, keeps what it found and arms the timer for the next.
    void Step(const std::function<void(std::vector<ZoneChange>&, std::vector<Passage>&)>& step);
    void Collect(std::vector<ZoneChange>& changes, std::vector<Passage>& passages);
    void ArmTimer();

    ZonePresence presence_;
    std::vector<DoorPasses> doors_;
    std::vector<DoorSnapshot> passages_;  // counted per door, in the order of doors_
    std::function<void()> due_;
    Clock now_;
    Timer timer_;
    std::vector<Found> waiting_;
    HistoryKeeper* history_ = nullptr;
};

}  // namespace zendrik::daemon
