#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "daemon/config/config.h"
#include "daemon/readers/desired_settings.h"
#include "daemon/loop/event_loop.h"
#include "daemon/common/histogram.h"
#include "daemon/loop/off_loop.h"
#include "daemon/common/payloads.h"
#include "daemon/readers/publish_filter.h"
#include "daemon/readers/reader_source.h"
#include "daemon/common/snapshot.h"
#include "daemon/store/spool.h"

namespace zendrik::daemon {

// Turns an event (its seq already the daemon's) into the payload published for it.
using EventRenderer = std::function<std::string(const zendrik_event&)>;

// An event as it went into the spool: its reader, its sequence number, its kind's name and the
// payload rendered for it.
struct StoredEvent {
    std::string reader;
    uint64_t seq = 0;
    std::string_view kind;
    std::string payload;
};

// What storing a reader's events needs besides the spool's burst.
struct StoreContext {
    const Topics& topics;
    const EventRenderer& render;
    // Told of every message stored (its burst not yet committed): for the time it takes to reach
    // the broker, and for the HTTP event stream once the burst is committed.
    std::function<void(StoredEvent event)> stored;
    // Where events are taken from a reader's handle, as many at once as it holds.
    std::span<zendrik_event> batch;
};

// One configured reader while the daemon runs: its source opened, identified, stopped and closed
// off the loop (ReaderSource says why), its event descriptor watched on the loop, its status and
// its counters, what of its events is published, its desired settings, and the requests queued
// for it (their completions come through its event stream). The site owns it and is told of
// every step through Owner.
class ReaderRuntime : DesiredSettings::Reader {
  public:
    enum class Phase {
        kOpening,
        kRunning,
        kFailed,    // it could not be opened at all
        kStopping,  // its reading is being stopped
        kStopped,   // reading has ended; what it queued is still to be taken
        kClosing,
        kClosed,
    };

    class Owner {
      public:
        virtual ~Owner() = default;
        // Events wait to be taken; the descriptor is not watched until WatchAgain().
        virtual void OnEventsQueued(ReaderRuntime& reader) = 0;
        // Opening has ended, in kRunning or kFailed.
        virtual void OnOpened(ReaderRuntime& reader) = 0;
        virtual void OnStatusChanged(ReaderRuntime& reader) = 0;
        // Reading has ended after Stop(): take what it queued, then Close().
        virtual void OnStopped(ReaderRuntime& reader) = 0;
        virtual void OnClosed(ReaderRuntime& reader) = 0;
    };

    ReaderRuntime(ReaderConfig config, std::unique_ptr<ReaderSource> source, EventLoop& loop,
                  OffLoop& offLoop, Owner& owner);
    ~ReaderRuntime() override;
    ReaderRuntime(const ReaderRuntime&) = delete;
    ReaderRuntime& operator=(const ReaderRuntime&) = delete;

    void Open();
    // Stops reading as soon as what runs now (opening) has ended.
    void Stop();
    // After OnStopped and its events taken: closes the reader.
    void Close();

    // Moves queued events into `burst` until it holds `limit`; true when none is left queued.
    bool TakeEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit);
    // After the burst with its events was committed: logs link changes, tells the owner of a
    // changed status and asks a reader whose link came back who it is (it may have been swapped).
    void AfterCommit();
    // Watches the descriptor again once everything queued was taken.
    void WatchAgain();

    using Completion = DesiredSettings::Reader::Completion;
    // Queues a request for the reader while it is open; `done` gets its completion on the loop,
    // also a made-up failed one when the reader is closed first. The result code when nothing
    // was queued (the reader not open, its queue full): `done` is not called then.
    std::optional<int32_t> Request(ReaderRequest request, Completion done) override;
    // After a start or stop command: whether the inventory runs.
    void NoteInventory(bool running);
    bool inventoryRunning() const { return inventoryRunning_; }
    // The kind the reader said it is; nothing before it answered.
    std::optional<int32_t> kind() const { return status_.kind; }
    DesiredSettings& desired() { return desired_; }

    const ReaderConfig& config() const { return config_; }
    const std::string& name() const { return config_.name; }
    Phase phase() const { return phase_; }
    bool linkUp() const { return status_.linkUp; }
    // The status goes out once the reader was asked who it is, so that the first one published
    // is right.
    bool statusKnown() const { return statusKnown_; }

    // The status as of now, with the spool's counts of this reader (and what the source dropped
    // before anything was stored, which is logged once when it grows).
    ReaderStatus StatusNow(const ReaderCounts& counts);
    // For the HTTP side: the counters, and the status as it would be published now (`offline`
    // once the daemon has published that it stopped).
    ReaderSnapshot Snapshot(const ReaderCounts& counts, bool offline) const;

  private:
    uint64_t SourceDropped() const;
    ReaderStatus StatusAt(const ReaderCounts& counts, uint64_t sourceDropped) const;
    void OnOpenDone(const std::optional<std::string>& failure);
    void AskIdentity();
    void OnIdentified(const std::optional<ReaderIdentity>& identity);
    void ContinueStop();
    void BeginStop();
    void OnReadingStopped();
    // DesiredSettings::Reader
    void Emit(std::string_view kind, nlohmann::ordered_json fields) override;
    void SettingsChanged() override;

    bool TakeOwnEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit);
    void Store(zendrik_event& event, Spool::Burst& burst, const StoreContext& context);
    void DispatchCompletions();
    void ProbeWhileStopped();
    void StatusChanged();
    void FailPending(const std::string& why);
    void Count(const zendrik_event& event);
    void NoteLink(const zendrik_event& event);
    std::string Label() const;

    ReaderConfig config_;
    std::shared_ptr<ReaderSource> source_;
    EventLoop& loop_;
    OffLoop& offLoop_;
    Owner& owner_;
    Phase phase_ = Phase::kOpening;
    EventSource watch_;
    bool callRunning_ = false;  // one call off the loop at a time
    bool stopWanted_ = false;
    std::shared_ptr<std::atomic<bool>> stopWantedOffLoop_ = std::make_shared<std::atomic<bool>>(false);
    bool identityWanted_ = false;
    bool identityAsked_ = false;  // its answer has not come yet
    bool statusKnown_ = false;
    bool linkSeen_ = false;  // a link event came: it, not the first identity, says the state
    bool everUp_ = false;
    bool linkChanged_ = false;  // since the last commit
    ReaderStatus status_;
    std::string readsTopic_;  // made at the first take: every event goes to one of the two
    std::string eventsTopic_;
    uint64_t dropped_ = 0;  // what the source dropped, as last seen
    uint64_t droppedLogged_ = 0;
    uint64_t linkLosses_ = 0;
    bool inventoryRunning_ = true;
    Timer stoppedProbe_;          // asks a reader that does not read who it is, so that its link is known
    bool compareWanted_ = false;  // the link came up: the settings are compared after the commit
    PublishFilter filter_;
    DesiredSettings desired_;
    struct OwnEvent {
        std::string_view kind;  // one of the constants of desired_settings.h
        nlohmann::ordered_json fields;
    };
    std::deque<OwnEvent> ownEvents_;                // not yet stored
    std::map<uint64_t, Completion> pending_;        // request id -> who waits for it
    std::vector<RequestEnd> completions_;           // taken, to be handed out after the commit
    std::map<std::string, uint64_t> eventsByKind_;  // events stored, by kind: what was published
    Histogram roundSeconds_;
};

}  // namespace zendrik::daemon
