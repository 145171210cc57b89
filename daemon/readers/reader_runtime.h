#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/common/histogram.h"
#include "daemon/common/payloads.h"
#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/loop/off_loop.h"
#include "daemon/readers/desired_settings.h"
#include "daemon/readers/publish_filter.h"
#include "daemon/readers/reader_backlog.h"
#include "daemon/readers/reader_counters.h"
#include "daemon/readers/reader_link.h"
#include "daemon/readers/reader_source.h"
#include "daemon/readers/reader_state.h"
#include "daemon/readers/request_router.h"
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
    // Told of every read stored (its reader name set), for what the site makes of reads; none:
    // nobody asks.
    std::function<void(const zendrik_event& read)> sighted = {};
};

// One configured reader while the daemon runs: its source opened, identified, stopped and closed
// off the loop (ReaderSource says why) as its state table moves it, its event descriptor watched
// on the loop, and the parts that follow it: its link, its counters, what of its events is
// published, its desired settings, and the requests queued for it (their completions come through
// its event stream). The site owns it and is told of every step through Owner.
//
// A completion is handed to whoever waits for it as soon as it is taken from the stream: while
// a request waits, the stream is taken as it comes (what is to be stored held in the backlog for
// the next commit), so that a command's reply does not wait for the store's grouping of commits.
// What follows from the events stored (a changed link in the status) waits for their commit.
class ReaderRuntime : DesiredSettings::Reader {
  public:
    class Owner {
      public:
        virtual ~Owner() = default;
        // Events wait to be taken; the descriptor may not be watched until WatchAgain().
        virtual void OnEventsQueued(ReaderRuntime& reader) = 0;
        // Opening has ended (in kIdentifying or kFailed, or stopping when a stop was asked).
        virtual void OnOpened(ReaderRuntime& reader) = 0;
        virtual void OnStatusChanged(ReaderRuntime& reader) = 0;
        // Reading has ended after Stop(): take what it queued, then Close().
        virtual void OnStopped(ReaderRuntime& reader) = 0;
        virtual void OnClosed(ReaderRuntime& reader) = 0;
        // Where the writes of its desired settings are recorded; none: they are not.
        virtual AuditTrail* audit() { return nullptr; }
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

    // Moves held and queued events into `burst` until it holds `limit`; true when none is left.
    bool TakeEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit);
    // After the burst with its events was committed: hands out the completions met in it, tells
    // the owner of a changed link, compares the settings of a reader whose link came up and asks
    // one whose link came back who it is (it may have been swapped).
    void AfterCommit();
    // Watches the descriptor again once everything queued was taken.
    void WatchAgain();

    using Completion = DesiredSettings::Reader::Completion;
    // Queues a request for the reader while it reads; `done` gets its completion on the loop,
    // also a made-up failed one when the reader is closed first. The result code when nothing
    // was queued (the reader not open, its queue full): `done` is not called then.
    std::optional<int32_t> Request(ReaderRequest request, Completion done) override;
    // After a start or stop command: whether the inventory runs.
    void NoteInventory(bool running);
    bool inventoryRunning() const { return inventoryRunning_; }
    // The kind the reader said it is; nothing before it answered.
    std::optional<int32_t> kind() const;
    DesiredSettings& desired() { return desired_; }

    const ReaderConfig& config() const { return config_; }
    const std::string& name() const { return config_.name; }
    ReaderState state() const { return state_.state(); }
    bool opening() const {
        return state() == ReaderState::kOpening || state() == ReaderState::kOpeningToStop;
    }
    bool linkUp() const { return link_.up(); }
    LinkState link() const { return link_.state(); }
    // The status goes out once the reader was asked who it is, so that the first one published
    // is right.
    bool statusKnown() const { return answered_; }

    // The status as of now, with the spool's counts of this reader (and what the source dropped
    // before anything was stored, which is logged once when it grows).
    ReaderStatus StatusNow(const ReaderCounts& counts);
    // For the HTTP side: the counters, and the status as it would be published now (`offline`
    // once the daemon has published that it stopped).
    ReaderSnapshot Snapshot(const ReaderCounts& counts, bool offline) const;

  private:
    // One request for who the reader is at a time; one wanted meanwhile is asked after it.
    enum class IdentityAsk {
        kIdle,
        kAsked,
        kAskedAgain,
    };

    uint64_t SourceDropped() const;
    ReaderStatus StatusAt(const ReaderCounts& counts, uint64_t sourceDropped) const;
    void OnOpenDone(const std::optional<std::string>& failure);
    void OnReadable();
    void TakeWhileAwaited();
    void AskIdentity();
    void OnIdentified(const std::optional<ReaderIdentity>& identity);
    void BeginStop();
    void OnReadingStopped();
    // DesiredSettings::Reader
    void Emit(std::string_view kind, nlohmann::ordered_json fields) override;
    void SettingsChanged() override;
    AuditTrail* audit() override { return owner_.audit(); }

    bool TakeBacklog(Spool::Burst& burst, const StoreContext& context, std::size_t limit);
    void StoreOwn(const OwnEvent& own, Spool::Burst& burst, const StoreContext& context);
    void Store(zendrik_event& event, Spool::Burst& burst, const StoreContext& context);
    void HandHeldCompletions();
    void ProbeWhileStopped();
    void StatusChanged();
    void TellStatus();
    // For a USB reader: its "cannot be reached" line with the device and why the system refused it
    // (as when the udev rule is missing), looked up off the loop, since it locates the reader again.
    ReaderLink::UnreachedLine UnreachedLine();
    std::string Label() const;

    ReaderConfig config_;
    std::shared_ptr<ReaderSource> source_;
    EventLoop& loop_;
    OffLoop& offLoop_;
    Owner& owner_;
    ReaderStateMachine state_;
    ReaderLink link_;
    EventSource watch_;
    std::shared_ptr<std::atomic<bool>> stopWantedOffLoop_ = std::make_shared<std::atomic<bool>>(false);
    IdentityAsk identityAsk_ = IdentityAsk::kIdle;
    bool answered_ = false;  // the first answer to who it is came (kept once the reader stops)
    std::optional<ReaderIdentity> identity_;  // as the reader last said it
    bool inventoryRunning_ = true;            // as the last start or stop command left it
    std::string readsTopic_;                  // made at the first take: every event goes to one of the two
    std::string eventsTopic_;
    Timer stoppedProbe_;  // asks a reader that does not read who it is, so that its link is known
    PublishFilter filter_;
    DesiredSettings desired_;
    RequestRouter requests_;
    ReaderCounters counters_;
    ReaderBacklog backlog_;
    std::unique_ptr<zendrik_event> scratch_ = std::make_unique<zendrik_event>();  // one taken early
    std::vector<RequestEnd> completions_;  // met while taking into a burst: handed after it
};

}  // namespace zendrik::daemon
