#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "daemon/audit/audit_trail.h"
#include "daemon/common/payloads.h"
#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/control/commands.h"
#include "daemon/http/http_server.h"
#include "daemon/http/site_api.h"
#include "daemon/loop/event_loop.h"
#include "daemon/loop/notify.h"
#include "daemon/loop/off_loop.h"
#include "daemon/mqtt/command_channel.h"
#include "daemon/mqtt/retained_statuses.h"
#include "daemon/mqtt/uplink.h"
#include "daemon/outputs/outputs.h"
#include "daemon/readers/reader_runtime.h"
#include "daemon/readers/reader_source.h"
#include "daemon/store/spool.h"
#include "daemon/zones/zones_and_doors.h"

namespace zendrik::daemon {

// Exit statuses of zendrikd.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;        // configuration, spool, HTTP or a reader could not be set up
inline constexpr int kExitUsage = 2;          // the command line was refused
inline constexpr int kExitBrokerRefused = 3;  // the broker (or TLS) refused the connection

// What a spool found lost tells each reader's consumers: a spool-lost event on its events topic
// (a zone's on its events, a door's on its passages).
LossMessage SpoolLostMessages(const Topics& topics);

// Makes the source of a configured reader: a reader session in the daemon, scripted in tests.
using SourceFactory = std::function<std::unique_ptr<ReaderSource>(const ReaderConfig&)>;
// Reads the configuration again (SIGHUP). Throws ConfigError with the whole of what is wrong,
// the file and line included.
using ConfigLoader = std::function<DaemonConfig()>;

// The daemon: one loop (sd-event) that owns the uplink to the broker (unless the site has webhooks
// only), the webhooks, one runtime per configured reader and the HTTP server (unless [http] listen
// is empty), with the timers of the site's status
// and the spool's checkpoint, and the signals: SIGTERM and SIGINT stop, SIGHUP reads the
// configuration again. Events go into the spool first, one transaction for what every reader
// queued; the uplink sends the spool oldest first, and the HTTP event stream gets every event once
// its transaction is committed. Everything here runs on the loop's thread; nothing on it waits for
// a reader.
class Site : public SiteApi, ReaderRuntime::Owner, Uplink::Listener {
  public:
    Site(DaemonConfig config, SourceFactory makeSource, EventRenderer render, Spool& spool,
         Notifier& notifier, ConfigLoader reload = {});
    ~Site() override;
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // Starts the HTTP server (the exit status is kExitFailure, with the reason logged, when it
    // cannot listen), opens the readers and connects, tells systemd READY=1 once every reader's
    // opening has ended, and runs until SIGTERM or SIGINT (or `stopFd`, when given, turns
    // readable). Then: every reader stopped at once, what they queued stored, the spool sent until
    // a short time after the signal, every reader's status and the site's published "offline", the
    // broker left.
    // Returns the exit status. Throws when the spool fails (nothing could be stored any more).
    int Run(int stopFd = -1);

    // SiteApi, for the HTTP side: on the loop's thread (or after Run()).
    SiteSnapshot Snapshot() const override;
    void RunCommand(const std::string& reader, const Command& command,
                    std::function<void(const CommandOutcome&)> done) override;
    void RunCommand(const std::string& reader, const Command& command, const Caller& caller,
                    std::function<void(const CommandOutcome&)> done) override;
    void NoteDenied(const AuditStart& denied, const std::string& words) override;
    CommandOutcome Reload(const Caller& caller) override;
    std::optional<AuditPage> Audit(const AuditQuery& query) override;
    void AskHistory(const Route& route, const std::map<std::string, std::string>& arguments,
                    std::function<void(HttpAnswer)> done) override;

  private:
    enum class Stage {
        kRunning,
        kStoppingReaders,  // until every reader has stopped and what it queued is stored
        kFlushing,         // the spool sent until kFlushTime after the stop began
        kOffline,          // "offline" statuses waiting for the broker's acknowledgement
        kFinishing,        // the broker left; the readers' closing ends the loop
    };
    struct Retiring {
        std::unique_ptr<ReaderRuntime> runtime;
        std::optional<ReaderConfig> successor;  // opened once the old one is closed
    };

    // ReaderRuntime::Owner
    void OnEventsQueued(ReaderRuntime& reader) override;
    void OnOpened(ReaderRuntime& reader) override;
    void OnStatusChanged(ReaderRuntime& reader) override;
    void OnStopped(ReaderRuntime& reader) override;
    void OnClosed(ReaderRuntime& reader) override;
    AuditTrail* audit() override { return audit_.get(); }
    // Uplink::Listener
    void OnUplinkConnected() override;
    void OnUplinkRefused() override;
    void OnUplinkStateChanged() override;
    void OnUplinkAcknowledged() override;

    // The history of the zones and doors beside the spool; without it they are only published.
    void OpenHistory();
    std::unique_ptr<ReaderRuntime> StartReader(const ReaderConfig& config);
    ReaderRuntime* FindReader(const std::string& name) const;
    void Retire(const std::string& name, std::optional<ReaderConfig> successor);
    // Reads the configuration again; what changed, or why it was not taken.
    CommandOutcome ReloadConfig();
    // A completed entry of the audit trail: stored in the spool and published on PREFIX/SITE/audit.
    void PublishAudit(const AuditRecord& record);
    void OrderReaders();
    void StoreEvents();
    // Drops what no output took within [spool] max_age.
    void ExpireOld();
    void StoreAll(ReaderRuntime& reader);
    StoreContext Context();
    // Stores the burst; what a full disk would not take goes straight to the broker.
    void CommitBurst(Spool::Burst& burst);
    // What the zones and doors found and nothing else, in a burst of its own (at a stop).
    void StorePlaces();
    // After a burst was committed: its events to the HTTP event stream.
    void PublishStored();
    void CheckReady();

    bool PublishStatus(ReaderRuntime& reader, bool offline = false, std::function<void()> acknowledged = {});
    void PublishAllStatuses();
    void PublishSiteOnline();
    void ClearStatus(const std::string& name);
    void SendClear(const std::string& name);
    void SaveRetainedNames();

    void BeginStop(int exitCode);
    void CheckStopProgress();
    void PublishOffline();
    void Finish();
    bool AllReadersClosing() const;
    bool AllReadersClosed() const;

    // The spool's new rows to every output.
    void PumpOutputs();
    bool UplinkConnected() const { return uplink_ && uplink_->connected(); }
    bool Publish(const std::string& topic, const std::string& payload, bool retain,
                 std::function<void()> acknowledged = {});
    OutputSnapshot UplinkSnapshot() const;

    void UpdateStatusLine();
    std::string StatusLine() const;

    DaemonConfig config_;  // its readers: those wanted now, whether opened yet or not
    Topics topics_;
    SourceFactory makeSource_;
    EventRenderer render_;
    Spool& spool_;
    Notifier& notifier_;
    ConfigLoader reload_;
    EventLoop loop_;
    std::unique_ptr<Uplink> uplink_;  // none for a site of webhooks only
    RetainedStatuses retained_;
    // Before the readers and the commands, whose completions record into it, also when they go.
    std::unique_ptr<AuditTrail> audit_;
    std::set<std::string> clearsPending_;  // removed readers whose status is still on the broker
    std::vector<std::unique_ptr<ReaderRuntime>> readers_;
    std::vector<Retiring> retiring_;
    std::vector<ReaderRuntime*> storePending_;
    std::vector<StoredEvent> storedEvents_;  // of the burst not yet committed, for the event stream
    std::vector<zendrik_event> takeBuffer_;  // events taken from a reader's handle at once
    OffLoop offLoop_;  // after the readers: it goes first, so that no call's result finds them gone
    Commands commands_;
    std::unique_ptr<CommandChannel> channel_;  // none while commands are off: nothing is subscribed
    Deferred store_;
    ZonesAndDoors places_;  // the zones and doors: what they find is stored with the readers' events
    std::unique_ptr<HistoryKeeper> history_;  // their visits and passages; none without zones and doors
    Timer storeGroup_;                        // the events of a short while stored in one commit
    Timer statusTimer_;
    Timer checkpointTimer_;
    Timer auditPrune_;
    Timer expiryTimer_;  // with [spool] max_age: drops what no output took in time
    Timer flushDeadline_;
    Timer offlineDeadline_;
    Timer statusLine_;
    std::vector<EventSource> signals_;
    EventSource stopWatch_;
    int64_t startedMs_ = 0;
    bool ready_ = false;
    Stage stage_ = Stage::kRunning;
    int exitCode_ = kExitOk;
    bool flushTimedOut_ = false;
    bool statusLinePending_ = false;
    std::size_t offlineAwaited_ = 0;
    uint64_t unstoredSent_ = 0;  // since the disk was last found full
    uint64_t unstoredLost_ = 0;
    std::unique_ptr<Outputs> outputs_;  // the webhooks, when there are any
    // Last: it goes before everything it asks for snapshots and commands.
    std::unique_ptr<HttpServer> http_;
};

}  // namespace zendrik::daemon
