#include "daemon/site/site.h"

#include <signal.h>

#include <algorithm>

#include "daemon/common/json_text.h"
#include "daemon/common/log.h"
#include "daemon/readers/reader_changes.h"
#include "daemon/site/history_answers.h"
#include "daemon/zones/place_payloads.h"

namespace zendrik::daemon {
namespace {

using std::chrono::milliseconds;

// Events taken from the readers in one transaction before the loop turns to the broker again: a
// few of the uplink's windows, so that storing cannot outrun sending by much (a loop that stored
// sixteen times what it sent delivered almost nothing while its spool grew) and a loop that has
// fallen behind still answers its other descriptors soon, yet enough that a burst arriving on a
// full disk is stored whole, making room by the oldest rows, rather than piece by piece.
constexpr std::size_t kEventsPerBurst = 1024;
// Events taken from a reader's handle at once: one lock of its queue for all of them.
constexpr std::size_t kEventsPerTake = 64;
// On SIGTERM: time to store what the readers queued and send what is spooled, counted from the
// signal, then to have the "offline" statuses acknowledged. An overloaded site spends all of the
// first (its spool never empties) and part of it stopping its readers; with the closing after them
// its stop stays within 5 s, well inside systemd's stop time-out. What is not sent stays spooled.
constexpr milliseconds kFlushTime{2000};
constexpr milliseconds kOfflineAckTime{1000};
// The store runs beside the readers' descriptors and the broker's socket (priority -1), below the
// timers and the signals: under a flood of reads there is always more to store, and each turn
// stores one bounded burst, then the socket and the readers have theirs, then the store again; a
// stop, a status round or a deadline goes before all of them.
constexpr int64_t kStorePriority = -1;
// Events that come within this time of each other go into one commit: each commit writes every
// page it touched again, so a commit per reader's round would wear flash storage out many times
// faster than the messages themselves.
constexpr milliseconds kStoreGroupWindow{40};
// systemd's STATUS= line follows the site at most this often: two hundred readers coming online
// at once are one line, not two hundred.
constexpr milliseconds kStatusLinePause{1000};
// The audit trail deletes what is older than the days it keeps once a day (and at the start).
constexpr std::chrono::hours kAuditPruneInterval{24};
// A reload asked for by SIGHUP, as the audit trail names it.
const Caller kSignalCaller{std::string(kDaemonActor), "signal"};
constexpr const char* kReloadCommand = "reload";
// The spool's ages are kept to a minute: looked at as often.
constexpr milliseconds kExpiryCheck{60000};
constexpr int64_t kMillisecondsPerSecond = 1000;

// A broker connection's state as the outputs' list words it and as systemd's status line says it.
struct MqttStateWords {
    const char* state;
    const char* statusLine;
};

MqttStateWords WordsOf(MqttState state) {
    switch (state) {
        case MqttState::kConnected:
            return {"connected", "broker connected"};
        case MqttState::kConnecting:
            return {"connecting", "connecting to the broker"};
        case MqttState::kRefused:
            return {"refused", "refused by the broker"};
        case MqttState::kDown:
            break;
    }
    return {"down", "broker unreachable"};
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

std::vector<std::string> NamesOf(const std::vector<ReaderConfig>& readers) {
    std::vector<std::string> names;
    for (const ReaderConfig& reader : readers) {
        names.push_back(reader.name);
    }
    return names;
}

std::string Describe(const ReaderChanges& changes) {
    if (changes.empty()) {
        return "no reader changed";
    }
    std::vector<std::string> parts;
    if (!changes.added.empty()) {
        parts.push_back("added " + Joined(NamesOf(changes.added)));
    }
    if (!changes.removed.empty()) {
        parts.push_back("removed " + Joined(changes.removed));
    }
    if (!changes.changed.empty()) {
        parts.push_back("reopened " + Joined(NamesOf(changes.changed)));
    }
    return Joined(parts);
}

}  // namespace

LossMessage SpoolLostMessages(const Topics& topics) {
    return [topics](const SpoolLoss& loss, uint64_t seq) {
        if (const auto place = PlaceOfSeqOwner(loss.reader)) {
            const bool zone = place->kind == "zone";
            return std::make_pair(
                zone ? topics.ZoneEvents(place->name) : topics.DoorPassages(place->name),
                PlaceSpoolLostJson(*place, seq, UnixNowMs(), loss.missingFrom, loss.missingTo));
        }
        return std::make_pair(loss.reader == kAuditStream ? topics.Audit() : topics.Events(loss.reader),
                              SpoolLostJson(loss.reader, seq, UnixNowMs(), loss.missingFrom, loss.missingTo));
    };
}

Site::Site(DaemonConfig config, SourceFactory makeSource, EventRenderer render, Spool& spool,
           Notifier& notifier, ConfigLoader reload)
    : config_(std::move(config)),
      topics_(config_.mqtt.topicPrefix, config_.site),
      makeSource_(std::move(makeSource)),
      render_(std::move(render)),
      spool_(spool),
      notifier_(notifier),
      reload_(std::move(reload)),
      retained_(config_.spool.path + ".statuses"),
      audit_(std::make_unique<AuditTrail>(AuditPath(config_.audit, config_.spool), config_.audit.keepDays)),
      takeBuffer_(kEventsPerTake),
      offLoop_(loop_),
      commands_(
          config_.control.commands, [this](const std::string& name) { return FindReader(name); },
          audit_.get()),
      places_(config_, loop_, [this] { store_.Schedule(); }) {
    if (config_.mqttEnabled) {
        Uplink::Listener& listener = *this;
        uplink_ = std::make_unique<Uplink>(loop_, config_.mqtt, topics_.SiteStatus(), SiteOfflineJson(),
                                           spool, listener, config_.publish, config_.spool.replayRate);
    }
    if (uplink_ && config_.control.commands != CommandPolicy::kOff) {
        channel_ =
            std::make_unique<CommandChannel>(topics_, commands_,
                                             [this](const std::string& topic, const std::string& payload,
                                                    const std::optional<std::string>& correlation) {
                                                 return uplink_->PublishReply(topic, payload, correlation);
                                             });
        uplink_->Subscribe(topics_.AllCommands(), [this](const IncomingMessage& message) {
            if (stage_ == Stage::kRunning) {
                channel_->OnMessage(message);
            }
        });
    }
    store_ = loop_.AddDeferred(kStorePriority, [this] { StoreEvents(); });
    storeGroup_ = loop_.AddTimer([this] { store_.Schedule(); });
    statusTimer_ = loop_.AddTimer([this] {
        PublishSiteOnline();
        PublishAllStatuses();
        statusTimer_.ArmIn(milliseconds{config_.statusIntervalMs});
    });
    checkpointTimer_ = loop_.AddTimer([this] {
        spool_.Checkpoint();
        checkpointTimer_.ArmIn(milliseconds{config_.spool.checkpointIntervalMs});
    });
    expiryTimer_ = loop_.AddTimer([this] {
        ExpireOld();
        expiryTimer_.ArmIn(kExpiryCheck);
    });
    flushDeadline_ = loop_.AddTimer([this] {
        flushTimedOut_ = true;
        CheckStopProgress();
    });
    offlineDeadline_ = loop_.AddTimer([this] {
        if (stage_ == Stage::kOffline) {
            Finish();
        }
    });
    auditPrune_ = loop_.AddTimer([this] {
        audit_->Prune();
        auditPrune_.ArmIn(kAuditPruneInterval);
    });
    statusLine_ = loop_.AddTimer([this] {
        statusLinePending_ = false;
        notifier_.Status(StatusLine());
    });
    OpenHistory();
}

void Site::OpenHistory() {
    if (places_.empty()) {
        return;
    }
    const std::string path = HistoryPath(config_.spool);
    try {
        history_ = std::make_unique<HistoryKeeper>(path, config_.history, loop_, offLoop_, UnixNowMs);
        places_.KeepHistory(history_.get());
    } catch (const SqliteError& error) {
        Log("the history " + path + " cannot be opened (" + error.what() +
            "): zones and doors are published, but not kept");
    }
}

Site::~Site() = default;

int Site::Run(int stopFd) {
    if (const auto problem = uplink_ ? uplink_->CheckSetup() : std::nullopt) {
        Log("cannot set up MQTT: " + *problem);
        return kExitFailure;
    }
    if (!config_.webhooks.empty()) {
        try {
            outputs_ = std::make_unique<Outputs>(loop_, spool_, config_.webhooks, uplink_ != nullptr);
        } catch (const std::runtime_error& error) {
            Log(error.what());
            return kExitFailure;
        }
    }
    if (!config_.http.listen.empty()) {
        try {
            http_ = std::make_unique<HttpServer>(loop_, config_.http, *this);
        } catch (const std::runtime_error& error) {
            Log(error.what());
            return kExitFailure;
        }
    }
    // The signals are taken before any thread starts, so that every thread inherits their block.
    for (const int stop : {SIGTERM, SIGINT}) {
        signals_.push_back(loop_.AddSignal(stop, [this](const signalfd_siginfo&) { BeginStop(kExitOk); }));
    }
    signals_.push_back(loop_.AddSignal(SIGHUP, [this](const signalfd_siginfo&) { Reload(kSignalCaller); }));
    if (stopFd >= 0) {
        stopWatch_ = loop_.AddIo(stopFd, EPOLLIN, [this](uint32_t) {
            stopWatch_.Enable(false);
            BeginStop(kExitOk);
        });
    }
    loop_.EnableWatchdog();
    startedMs_ = UnixNowMs();
    notifier_.Status("opening " + std::to_string(config_.readers.size()) + " readers");
    for (const std::string& name : retained_.names()) {
        const bool configured = std::any_of(config_.readers.begin(), config_.readers.end(),
                                            [&](const ReaderConfig& reader) { return reader.name == name; });
        if (!configured) {
            clearsPending_.insert(name);
        }
    }
    SaveRetainedNames();
    for (const ReaderConfig& reader : config_.readers) {
        readers_.push_back(StartReader(reader));
    }
    // Entries an earlier run left without an outcome are published as unknown once the spool is there.
    audit_->OnCompleted([this](const AuditRecord& record) { PublishAudit(record); });
    auditPrune_.ArmIn(milliseconds{0});
    if (uplink_) {
        uplink_->Start();
    }
    PumpOutputs();
    statusTimer_.ArmIn(milliseconds{config_.statusIntervalMs});
    checkpointTimer_.ArmIn(milliseconds{config_.spool.checkpointIntervalMs});
    if (config_.spool.maxAgeS) {
        try {
            spool_.KeepAges();
            expiryTimer_.ArmIn(milliseconds{0});
        } catch (const SqliteError& error) {
            Log(std::string("the spool cannot keep the ages of its messages; max_age is not kept: ") +
                error.what());
        }
    }
    return loop_.Run();
}

std::unique_ptr<ReaderRuntime> Site::StartReader(const ReaderConfig& config) {
    clearsPending_.erase(config.name);
    ReaderRuntime::Owner& owner = *this;
    auto reader = std::make_unique<ReaderRuntime>(config, makeSource_(config), loop_, offLoop_, owner);
    reader->Open();
    return reader;
}

ReaderRuntime* Site::FindReader(const std::string& name) const {
    const auto found = std::find_if(readers_.begin(), readers_.end(),
                                    [&](const auto& reader) { return reader->name() == name; });
    return found == readers_.end() ? nullptr : found->get();
}

void Site::OnOpened(ReaderRuntime& reader) {
    const bool configured = std::any_of(readers_.begin(), readers_.end(),
                                        [&](const auto& running) { return running.get() == &reader; });
    if (reader.state() == ReaderState::kFailed && !ready_ && configured) {
        // A reader that cannot be set up at all at the start is a configuration to fix.
        BeginStop(kExitFailure);
        return;
    }
    CheckReady();
}

void Site::CheckReady() {
    if (ready_ || stage_ != Stage::kRunning) {
        return;
    }
    const bool opening =
        std::any_of(readers_.begin(), readers_.end(), [](const auto& reader) { return reader->opening(); });
    if (opening) {
        return;
    }
    ready_ = true;
    notifier_.Ready(StatusLine());
    Log("reading " + std::to_string(readers_.size()) + " readers of site " + config_.site + " into " +
        config_.spool.path +
        (uplink_ ? ", publishing to " + config_.mqtt.host + ":" + std::to_string(config_.mqtt.port) : "") +
        (config_.webhooks.empty() ? "" : ", to " + std::to_string(config_.webhooks.size()) + " webhooks") +
        (http_ ? ", serving HTTP on port " + std::to_string(http_->port()) : ""));
}

void Site::OnEventsQueued(ReaderRuntime& reader) {
    if (std::find(storePending_.begin(), storePending_.end(), &reader) == storePending_.end()) {
        storePending_.push_back(&reader);
    }
    if (!storeGroup_.armed()) {
        storeGroup_.ArmIn(kStoreGroupWindow);
    }
}

StoreContext Site::Context() {
    storedEvents_.clear();
    return StoreContext{topics_, render_,
                        [this](StoredEvent event) {
                            if (uplink_) {
                                uplink_->NoteStored(event.reader, event.seq);
                            }
                            if (http_) {
                                storedEvents_.push_back(std::move(event));
                            }
                        },
                        takeBuffer_,
                        places_.empty() ? std::function<void(const zendrik_event&)>{}
                                        : [this](const zendrik_event& read) { places_.Read(read); }};
}

void Site::CommitBurst(Spool::Burst& burst) {
    if (burst.added() == 0) {
        return;
    }
    const bool wasWritable = spool_.writable();
    if (!burst.Commit()) {
        if (wasWritable) {
            Log("the spool's disk is full: the oldest messages are dropped to make room, and what cannot "
                "be stored is published straight away while the broker is connected");
            unstoredSent_ = unstoredLost_ = 0;
            UpdateStatusLine();
        }
        // Their numbers are given and never given again: sent now or counted as lost.
        for (const SpooledMessage& message : burst.unstored()) {
            if (Publish(message.topic, message.payload, false)) {
                ++unstoredSent_;
            } else {
                spool_.CountLost(message.reader, 1);
                ++unstoredLost_;
            }
        }
    } else if (!wasWritable) {
        Log("the spool stores again; while its disk was full " + std::to_string(unstoredSent_) +
            " messages were published without being stored and " + std::to_string(unstoredLost_) +
            " were lost (counted as dropped)");
        UpdateStatusLine();
    }
    PublishStored();
}

void Site::StorePlaces() {
    if (!places_.waiting()) {
        return;
    }
    const StoreContext context = Context();
    {
        Spool::Burst burst = spool_.Begin();
        places_.TakeInto(burst, topics_, context.stored);
        CommitBurst(burst);
    }
    PumpOutputs();
}

// Only what is committed goes out: a number the stream gave is never given again.
void Site::PublishStored() {
    for (const StoredEvent& event : storedEvents_) {
        http_->PublishEvent(event.reader, event.seq, event.kind, event.payload);
    }
    storedEvents_.clear();
}

void Site::StoreEvents() {
    const StoreContext context = Context();
    std::vector<ReaderRuntime*> taken;
    // The readers the full burst left out go first next time, then those it took from that still
    // have more: were the order kept, a first reader that always fills the burst alone would keep
    // every other reader's queue from being emptied until it overflowed.
    std::vector<ReaderRuntime*> leftOut;
    std::vector<ReaderRuntime*> takenFromWithMore;
    {
        // The burst's transaction ends here, committed or (empty) not, before anything below
        // uses the spool.
        Spool::Burst burst = spool_.Begin();
        for (ReaderRuntime* reader : storePending_) {
            if (burst.added() >= kEventsPerBurst) {
                leftOut.push_back(reader);
                continue;
            }
            taken.push_back(reader);
            if (!reader->TakeEvents(burst, context, kEventsPerBurst)) {
                takenFromWithMore.push_back(reader);
            }
        }
        places_.TakeInto(burst, topics_, context.stored);
        CommitBurst(burst);
    }
    std::vector<ReaderRuntime*> stillQueued = leftOut;
    stillQueued.insert(stillQueued.end(), takenFromWithMore.begin(), takenFromWithMore.end());
    storePending_ = stillQueued;
    for (ReaderRuntime* reader : taken) {
        if (std::find(stillQueued.begin(), stillQueued.end(), reader) == stillQueued.end()) {
            reader->WatchAgain();
        }
        reader->AfterCommit();
    }
    if (!storePending_.empty()) {
        store_.Schedule();
    }
    PumpOutputs();
}

void Site::PumpOutputs() {
    if (uplink_) {
        uplink_->Pump();
    }
    if (outputs_) {
        outputs_->Pump();
    }
}

bool Site::Publish(const std::string& topic, const std::string& payload, bool retain,
                   std::function<void()> acknowledged) {
    return uplink_ && uplink_->Publish(topic, payload, retain, std::move(acknowledged));
}

void Site::ExpireOld() {
    std::map<std::string, uint64_t> expired;
    try {
        expired = spool_.Expire(static_cast<int64_t>(*config_.spool.maxAgeS) * kMillisecondsPerSecond);
    } catch (const SqliteError& error) {
        Log(std::string("the spool's old messages could not be dropped: ") + error.what());
        return;
    }
    std::vector<std::string> parts;
    for (const auto& [reader, count] : expired) {
        parts.push_back(reader + " " + std::to_string(count));
    }
    if (!parts.empty()) {
        Log("dropped messages that no output took within max_age (" + std::to_string(*config_.spool.maxAgeS) +
            " s), by reader: " + Joined(parts) + "; counted as dropped and in zendrik_spool_expired_total");
        UpdateStatusLine();
    }
}

void Site::StoreAll(ReaderRuntime& reader) {
    const StoreContext context = Context();
    storePending_.erase(std::remove(storePending_.begin(), storePending_.end(), &reader),
                        storePending_.end());
    bool drained = false;
    while (!drained) {
        {
            Spool::Burst burst = spool_.Begin();
            drained = reader.TakeEvents(burst, context, kEventsPerBurst);
            places_.TakeInto(burst, topics_, context.stored);
            CommitBurst(burst);
        }
        reader.AfterCommit();
    }
    PumpOutputs();
}

void Site::OnStatusChanged(ReaderRuntime& reader) {
    PublishStatus(reader);
    UpdateStatusLine();
}

void Site::OnStopped(ReaderRuntime& reader) {
    StoreAll(reader);
    reader.Close();
}

void Site::OnClosed(ReaderRuntime& reader) {
    // Called from the reader's own last step: it may be destroyed here, and nothing of it runs after.
    storePending_.erase(std::remove(storePending_.begin(), storePending_.end(), &reader),
                        storePending_.end());
    const auto retired = std::find_if(retiring_.begin(), retiring_.end(),
                                      [&](const Retiring& entry) { return entry.runtime.get() == &reader; });
    if (retired != retiring_.end()) {
        Retiring entry = std::move(*retired);
        retiring_.erase(retired);
        if (!entry.successor) {
            ClearStatus(entry.runtime->name());
        } else if (stage_ == Stage::kRunning) {
            readers_.push_back(StartReader(*entry.successor));
            OrderReaders();
        }
        SaveRetainedNames();
    }
    if (stage_ != Stage::kRunning) {
        CheckStopProgress();
    }
}

void Site::Retire(const std::string& name, std::optional<ReaderConfig> successor) {
    const auto running = std::find_if(readers_.begin(), readers_.end(),
                                      [&](const auto& reader) { return reader->name() == name; });
    if (running == readers_.end()) {
        // Already closing after an earlier reload: what follows it is what changes.
        for (Retiring& entry : retiring_) {
            if (entry.runtime->name() == name) {
                entry.successor = std::move(successor);
            }
        }
        return;
    }
    retiring_.push_back(Retiring{std::move(*running), std::move(successor)});
    readers_.erase(running);
    retiring_.back().runtime->Stop();
}

CommandOutcome Site::Reload(const Caller& caller) {
    const int64_t entry = audit_->Begin(AuditStart{caller, {}, kReloadCommand, "{}"});
    CommandOutcome outcome = ReloadConfig();
    audit_->Complete(entry, AuditEndOf(outcome, {}, {}));
    return outcome;
}

CommandOutcome Site::ReloadConfig() {
    if (stage_ != Stage::kRunning || !reload_) {
        return CommandOutcome{
            CommandFailure::kRefused,
            {},
            0,
            reload_ ? "the daemon is stopping" : "this site cannot reload its configuration"};
    }
    DaemonConfig next;
    try {
        next = reload_();
    } catch (const ConfigError& error) {
        const std::string words =
            std::string(error.what()) + "; the configuration was not reloaded, the running one stays";
        Log(words);
        return CommandOutcome{CommandFailure::kRefused, {}, 0, words};
    }
    if (next.site != config_.site || !(next.mqtt == config_.mqtt) || !(next.spool == config_.spool) ||
        !(next.http == config_.http) || !(next.control == config_.control) || next.zones != config_.zones ||
        next.doors != config_.doors || next.mqttEnabled != config_.mqttEnabled ||
        !(next.webhooks == config_.webhooks)) {
        Log("changes to the site, [mqtt], [spool], [http], [control], [[zone]], [[door]] or [[output]] take "
            "effect at the next start");
    }
    const ReaderChanges changes = CompareReaders(config_.readers, next.readers);
    config_.readers = next.readers;
    if (next.statusIntervalMs != config_.statusIntervalMs) {
        config_.statusIntervalMs = next.statusIntervalMs;
        statusTimer_.ArmIn(milliseconds{config_.statusIntervalMs});
    }
    for (const std::string& name : changes.removed) {
        Retire(name, std::nullopt);
    }
    for (const ReaderConfig& reader : changes.changed) {
        Retire(reader.name, reader);
    }
    for (const ReaderConfig& reader : changes.added) {
        const auto closing = std::find_if(retiring_.begin(), retiring_.end(), [&](const Retiring& entry) {
            return entry.runtime->name() == reader.name;
        });
        if (closing != retiring_.end()) {
            closing->successor = reader;  // opened once the one of the same name has closed
        } else {
            readers_.push_back(StartReader(reader));
        }
    }
    OrderReaders();
    SaveRetainedNames();
    PublishSiteOnline();
    Log("configuration reloaded: " + Describe(changes));
    return CommandOutcome{
        CommandFailure::kNone,
        JsonText(nlohmann::ordered_json{{"reloaded", true}, {"changes", Describe(changes)}}),
        0,
        {}};
}

void Site::PublishAudit(const AuditRecord& record) {
    {
        Spool::Burst burst = spool_.Begin();
        burst.Add(kAuditStream, topics_.Audit(), [&](uint64_t seq) { return AuditMessageJson(record, seq); });
        CommitBurst(burst);
    }
    PumpOutputs();
}

void Site::OrderReaders() {
    const auto position = [&](const ReaderRuntime& reader) {
        const auto found =
            std::find_if(config_.readers.begin(), config_.readers.end(),
                         [&](const ReaderConfig& wanted) { return wanted.name == reader.name(); });
        return found - config_.readers.begin();
    };
    std::stable_sort(readers_.begin(), readers_.end(),
                     [&](const auto& a, const auto& b) { return position(*a) < position(*b); });
}

bool Site::PublishStatus(ReaderRuntime& reader, bool offline, std::function<void()> acknowledged) {
    ReaderStatus status = reader.StatusNow(spool_.counts(reader.name()));
    status.offline = offline;
    return Publish(topics_.ReaderStatus(reader.name()), ReaderStatusJson(status), true,
                   std::move(acknowledged));
}

void Site::PublishAllStatuses() {
    for (const auto& reader : readers_) {
        if (reader->statusKnown()) {
            PublishStatus(*reader);
        }
    }
}

void Site::PublishSiteOnline() {
    Publish(topics_.SiteStatus(), SiteOnlineJson(UnixNowMs(), startedMs_, config_.readers.size()), true);
}

void Site::ClearStatus(const std::string& name) {
    clearsPending_.insert(name);
    SaveRetainedNames();
    SendClear(name);
}

// An empty retained message removes the retained status from the broker.
void Site::SendClear(const std::string& name) {
    Publish(topics_.ReaderStatus(name), "", true, [this, name] {
        clearsPending_.erase(name);
        SaveRetainedNames();
        Log("reader " + name + " is no longer configured: its status was cleared");
    });
}

void Site::SaveRetainedNames() {
    std::set<std::string> names(clearsPending_);
    for (const ReaderConfig& reader : config_.readers) {
        names.insert(reader.name);
    }
    for (const Retiring& entry : retiring_) {
        names.insert(entry.runtime->name());
    }
    if (const auto problem = retained_.Save(names)) {
        Log(*problem);
    }
}

void Site::OnUplinkConnected() {
    PublishSiteOnline();
    PublishAllStatuses();
    for (const std::string& name : std::set<std::string>(clearsPending_)) {
        SendClear(name);
    }
}

void Site::OnUplinkRefused() {
    BeginStop(kExitBrokerRefused);
}

void Site::OnUplinkStateChanged() {
    UpdateStatusLine();
    if (stage_ == Stage::kFlushing || (stage_ == Stage::kOffline && !UplinkConnected())) {
        CheckStopProgress();
    }
}

void Site::OnUplinkAcknowledged() {
    if (stage_ == Stage::kFlushing) {
        CheckStopProgress();
    }
}

void Site::BeginStop(int exitCode) {
    if (stage_ != Stage::kRunning) {
        return;
    }
    stage_ = Stage::kStoppingReaders;
    exitCode_ = exitCode;
    notifier_.Stopping(StatusLine());
    statusTimer_.Disarm();
    flushDeadline_.ArmIn(kFlushTime);
    // All at once: each stop waits for its reader's round to end.
    for (const auto& reader : readers_) {
        reader->Stop();
    }
    for (const Retiring& entry : retiring_) {
        entry.runtime->Stop();
    }
    CheckStopProgress();
}

bool Site::AllReadersClosing() const {
    const auto closing = [](const ReaderRuntime& reader) {
        return reader.state() == ReaderState::kClosing || reader.state() == ReaderState::kClosed;
    };
    return std::all_of(readers_.begin(), readers_.end(),
                       [&](const auto& reader) { return closing(*reader); }) &&
           std::all_of(retiring_.begin(), retiring_.end(),
                       [&](const Retiring& entry) { return closing(*entry.runtime); });
}

bool Site::AllReadersClosed() const {
    return retiring_.empty() && std::all_of(readers_.begin(), readers_.end(), [](const auto& reader) {
               return reader->state() == ReaderState::kClosed;
           });
}

void Site::CheckStopProgress() {
    if (stage_ == Stage::kStoppingReaders) {
        if (!AllReadersClosing()) {
            return;
        }
        stage_ = Stage::kFlushing;
        // Every read is in: a pass still open ends with the stop, so that its passage is not lost.
        places_.EndPasses();
        StorePlaces();
        if (uplink_) {
            uplink_->SendBatchesNow();  // a stop does not wait for a batch's time
        }
    }
    if (stage_ == Stage::kFlushing) {
        const bool sending = exitCode_ == kExitOk && UplinkConnected() && spool_.size() > 0;
        if (sending && !flushTimedOut_) {
            return;
        }
        flushDeadline_.Disarm();
        PublishOffline();
        return;
    }
    if (stage_ == Stage::kOffline && !UplinkConnected()) {
        Finish();
        return;
    }
    if (stage_ == Stage::kFinishing && AllReadersClosed()) {
        loop_.Exit(exitCode_);
    }
}

void Site::PublishOffline() {
    stage_ = Stage::kOffline;
    if (!UplinkConnected()) {
        Finish();
        return;
    }
    offlineAwaited_ = 0;
    const auto acknowledged = [this] {
        if (offlineAwaited_ > 0 && --offlineAwaited_ == 0 && stage_ == Stage::kOffline) {
            Finish();
        }
    };
    for (const auto& reader : readers_) {
        offlineAwaited_ += PublishStatus(*reader, true, acknowledged) ? 1 : 0;
    }
    offlineAwaited_ += Publish(topics_.SiteStatus(), SiteOfflineJson(), true, acknowledged) ? 1 : 0;
    if (offlineAwaited_ == 0 || !UplinkConnected()) {
        Finish();
        return;
    }
    offlineDeadline_.ArmIn(kOfflineAckTime);
}

void Site::Finish() {
    stage_ = Stage::kFinishing;
    offlineDeadline_.Disarm();
    if (uplink_) {
        uplink_->Close();
    }
    spool_.Checkpoint();
    if (history_) {
        // Visits still open end with the stop: the next start's presence begins empty.
        history_->WriteNow(places_.presence().OpenVisits(UnixNowMs()));
    }
    Log("stopped; " + std::to_string(spool_.size()) + " messages stay in the spool" +
        (spool_.held() > 0 ? " and " + std::to_string(spool_.held()) + " more for the webhooks" : ""));
    CheckStopProgress();
}

void Site::UpdateStatusLine() {
    if (!statusLinePending_) {
        statusLinePending_ = true;
        statusLine_.ArmIn(kStatusLinePause);
    }
}

std::string Site::StatusLine() const {
    const std::size_t online = static_cast<std::size_t>(
        std::count_if(readers_.begin(), readers_.end(), [](const auto& reader) { return reader->linkUp(); }));
    const std::string broker = uplink_ ? WordsOf(uplink_->state()).statusLine : "no broker";
    return broker + ", " + std::to_string(online) + "/" + std::to_string(readers_.size()) +
           " readers online, " + std::to_string(spool_.size()) + " spooled" +
           (spool_.writable() ? "" : ", spool disk full");
}

SiteSnapshot Site::Snapshot() const {
    SiteSnapshot snapshot;
    snapshot.site = config_.site;
    snapshot.commands = CommandPolicyWords(config_.control.commands);
    const bool offline = stage_ == Stage::kOffline || stage_ == Stage::kFinishing;
    snapshot.mqttEnabled = uplink_ != nullptr;
    snapshot.mqttConnected = UplinkConnected();
    snapshot.spoolMessages = spool_.size();
    snapshot.spoolWritable = spool_.writable();
    if (uplink_) {
        snapshot.publishSeconds = uplink_->publishSeconds();
        snapshot.outputs.push_back(UplinkSnapshot());
    }
    if (outputs_) {
        for (OutputSnapshot& output : outputs_->Snapshot()) {
            snapshot.outputs.push_back(std::move(output));
        }
    }
    snapshot.loopStallSeconds = loop_.stallSeconds();
    snapshot.longestLoopStallSeconds = loop_.longestStallSeconds();
    for (const auto& reader : readers_) {
        snapshot.readers.push_back(reader->Snapshot(spool_.counts(reader->name()), offline));
    }
    places_.Snapshot(snapshot.zones, snapshot.doors);
    if (history_) {
        snapshot.historyRows = history_->rows();
        snapshot.historyDropped = history_->dropped();
    }
    return snapshot;
}

OutputSnapshot Site::UplinkSnapshot() const {
    OutputSnapshot output;
    output.name = "mqtt";
    output.kind = "mqtt";
    output.state = WordsOf(uplink_->state()).state;
    output.target = config_.mqtt.host + ":" + std::to_string(config_.mqtt.port);
    output.seconds = uplink_->publishSeconds();
    output.sent = output.seconds.count();
    output.pending = spool_.size();
    for (const auto& reader : readers_) {
        output.deadLetters += spool_.counts(reader->name()).dead;
    }
    return output;
}

void Site::RunCommand(const std::string& reader, const Command& command,
                      std::function<void(const CommandOutcome&)> done) {
    commands_.Run(reader, command, std::move(done));
}

void Site::RunCommand(const std::string& reader, const Command& command, const Caller& caller,
                      std::function<void(const CommandOutcome&)> done) {
    commands_.Run(reader, command, caller, std::move(done));
}

void Site::NoteDenied(const AuditStart& denied, const std::string& words) {
    audit_->Deny(denied, kCodeForbidden, words);
}

std::optional<AuditPage> Site::Audit(const AuditQuery& query) {
    return audit_->Query(query);
}

void Site::AskHistory(const Route& route, const std::map<std::string, std::string>& arguments,
                      std::function<void(HttpAnswer)> done) {
    if (!history_) {
        SiteApi::AskHistory(route, arguments, std::move(done));
        return;
    }
    if (route.kind == RouteKind::kTag) {
        const std::optional<std::string> epc = EpcOfPath(route.reader);
        if (!epc) {
            done(ErrorAnswer(400,
                             "\"" + route.reader + "\" is no EPC: an EPC is hexadecimal digits, two a byte"));
            return;
        }
        const auto now = places_.presence().Find(*epc);
        history_->AskTag(
            *epc, kHistoryAnswerLimit,
            [done, epc = *epc, now](const std::vector<VisitRecord>& visits,
                                    const std::vector<PassageRecord>& passages, const std::string& failure) {
                done(failure.empty() ? TagAnswer(epc, now, visits, passages)
                                     : ErrorAnswer(503, "the history cannot be read: " + failure));
            });
        return;
    }
    auto query = PassageQueryOf(arguments);
    if (auto* refusal = std::get_if<HttpAnswer>(&query)) {
        done(std::move(*refusal));
        return;
    }
    const PassageQuery& asked = std::get<PassageQuery>(query);
    history_->AskPassages(asked, [done, limit = asked.limit](const std::vector<PassageRecord>& passages,
                                                             const std::string& failure) {
        done(failure.empty() ? PassagesAnswer(passages, limit)
                             : ErrorAnswer(503, "the history cannot be read: " + failure));
    });
}

}  // namespace zendrik::daemon
