#include "daemon/readers/reader_runtime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "daemon/common/json_text.h"
#include "daemon/common/log.h"
#include "daemon/readers/session_source.h"

namespace zendrik::daemon {
namespace {

// Reader descriptors go before the loop's other work, so that every reader with events queued
// is taken into one spool transaction (they stop being watched until it ran).
constexpr int64_t kReaderWatchPriority = -1;
// A reader whose inventory was stopped is asked this often who it is: the library reports a link
// lost or restored with the request that found it.
constexpr std::chrono::seconds kStoppedProbeInterval{5};
// A read carries its round's time in microseconds.
constexpr double kMicrosecondsPerSecond = 1e6;

void CopyReaderName(zendrik_event& event, const std::string& name) {
    const std::size_t length = std::min(name.size(), sizeof event.reader - 1);
    std::memcpy(event.reader, name.data(), length);
    event.reader[length] = '\0';
}

}  // namespace

ReaderRuntime::ReaderRuntime(ReaderConfig config, std::unique_ptr<ReaderSource> source, EventLoop& loop,
                             OffLoop& offLoop, Owner& owner)
    : config_(std::move(config)),
      source_(std::move(source)),
      loop_(loop),
      offLoop_(offLoop),
      owner_(owner),
      filter_(config_),
      desired_(config_, loop, *this) {
    stoppedProbe_ = loop.AddTimer([this] { ProbeWhileStopped(); });
}

ReaderRuntime::~ReaderRuntime() = default;

std::string ReaderRuntime::Label() const {
    return "reader " + config_.name + " (" + config_.address + ")";
}

void ReaderRuntime::Open() {
    phase_ = Phase::kOpening;
    callRunning_ = true;
    // A stop asked while the reader is opened spares it the start, and so the wait for a first
    // round that a stop would have to sit out.
    offLoop_.Run([this, source = source_, stopWanted = stopWantedOffLoop_] {
        std::optional<std::string> failure = source->Open();
        if (!failure && !stopWanted->load()) {
            failure = source->Start();
        }
        return [this, failure] { OnOpenDone(failure); };
    });
}

void ReaderRuntime::OnOpenDone(const std::optional<std::string>& failure) {
    callRunning_ = false;
    if (failure) {
        phase_ = Phase::kFailed;
        Log(Label() + ": " + *failure);
    } else {
        phase_ = Phase::kRunning;
        watch_ = loop_.AddIo(source_->eventFd(), EPOLLIN, [this](uint32_t) {
            watch_.Enable(false);
            owner_.OnEventsQueued(*this);
        });
        watch_.SetPriority(kReaderWatchPriority);
    }
    owner_.OnOpened(*this);
    if (stopWanted_) {
        ContinueStop();
    } else if (phase_ == Phase::kRunning) {
        AskIdentity();
    }
}

// The one place that asks a reader who it is: a request in the reader's own queue, answered
// between two inventory rounds, so the loop never waits for it. One is asked at a time.
void ReaderRuntime::AskIdentity() {
    if (identityAsked_) {
        identityWanted_ = true;
        return;
    }
    identityWanted_ = false;
    const std::optional<int32_t> refused =
        Request(ReaderRequest{ZENDRIK_REQUEST_INFO, {}}, [this](const zendrik_event& done) {
            identityAsked_ = false;
            if (done.result == ZENDRIK_OK) {
                OnIdentified(ReaderIdentity{done.info.kind, done.info.version, done.info.serial});
            } else {
                OnIdentified(std::nullopt);
            }
        });
    identityAsked_ = !refused.has_value();
    if (refused) {
        OnIdentified(std::nullopt);  // not queued (the queue full): asked again at the next link change
    }
}

void ReaderRuntime::OnIdentified(const std::optional<ReaderIdentity>& identity) {
    if (stopWanted_) {
        return;  // the answer of a reader being closed (or the made-up one of its close)
    }
    if (identity) {
        status_.kind = identity->kind;
        status_.version = identity->version;
        status_.serial = identity->serial;
    }
    const bool first = !statusKnown_;
    statusKnown_ = true;
    if (first && !linkSeen_) {
        // Reading began with the link up (it says only a lost one): the answer tells the state.
        status_.linkUp = identity.has_value();
        everUp_ = everUp_ || status_.linkUp;
    }
    if (first && identity) {
        Log(Label() + ": reader of kind " + std::to_string(identity->kind) + ", version " +
            identity->version + ", serial number " + identity->serial);
    }
    owner_.OnStatusChanged(*this);
    if (identityWanted_ && !identityAsked_) {
        AskIdentity();
    }
}

void ReaderRuntime::Stop() {
    desired_.Stop();
    stoppedProbe_.Disarm();
    stopWanted_ = true;
    stopWantedOffLoop_->store(true);
    if (!callRunning_) {
        ContinueStop();  // otherwise the end of the call goes on with it
    }
}

void ReaderRuntime::ContinueStop() {
    if (phase_ == Phase::kFailed) {
        phase_ = Phase::kStopped;
        owner_.OnStopped(*this);
    } else if (phase_ == Phase::kRunning) {
        BeginStop();
    }
}

void ReaderRuntime::BeginStop() {
    phase_ = Phase::kStopping;
    callRunning_ = true;
    offLoop_.Run([this, source = source_] {
        source->Stop();
        return [this] { OnReadingStopped(); };
    });
}

void ReaderRuntime::OnReadingStopped() {
    callRunning_ = false;
    phase_ = Phase::kStopped;
    dropped_ = source_->dropped();
    owner_.OnStopped(*this);
}

void ReaderRuntime::Close() {
    FailPending("the reader " + config_.name + " was closed before it answered");
    watch_ = EventSource();  // before the descriptor goes with the reader
    phase_ = Phase::kClosing;
    callRunning_ = true;
    offLoop_.Run([this, source = std::exchange(source_, nullptr)]() mutable {
        source.reset();
        return [this] {
            callRunning_ = false;
            phase_ = Phase::kClosed;
            owner_.OnClosed(*this);
        };
    });
}

bool ReaderRuntime::TakeEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit) {
    if (!TakeOwnEvents(burst, context, limit)) {
        return false;
    }
    if (!source_ || phase_ == Phase::kOpening || phase_ == Phase::kFailed) {
        return true;
    }
    if (readsTopic_.empty()) {
        readsTopic_ = context.topics.Reads(config_.name);
        eventsTopic_ = context.topics.Events(config_.name);
    }
    // Taken from the handle a batch at a time: one lock of its queue for many events.
    while (burst.added() < limit) {
        const std::size_t wanted = std::min(context.batch.size(), limit - burst.added());
        const std::size_t taken = source_->NextEvents(context.batch.first(wanted));
        for (std::size_t i = 0; i < taken; ++i) {
            zendrik_event& event = context.batch[i];
            if (event.kind == ZENDRIK_EVENT_COMPLETED) {
                completions_.push_back(event);  // handed out once what came before it is stored
                continue;
            }
            Count(event);
            if (filter_.Passes(event)) {
                Store(event, burst, context);
            }
        }
        if (taken < wanted) {
            return true;
        }
    }
    return false;
}

// The daemon's own events go first: they were found before anything now queued was taken.
bool ReaderRuntime::TakeOwnEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit) {
    while (!ownEvents_.empty() && burst.added() < limit) {
        OwnEvent& own = ownEvents_.front();
        StoredEvent stored{config_.name, 0, own.kind, {}};
        stored.seq = burst.Add(config_.name, context.topics.Events(config_.name), [&](uint64_t given) {
            nlohmann::ordered_json json;
            json["event"] = own.kind;
            json["reader"] = config_.name;
            json["seq"] = given;
            json["time"] = UtcTimeText(UnixNowMs());
            json.update(own.fields);
            stored.payload = JsonText(json);
            return stored.payload;
        });
        ++eventsByKind_[std::string(own.kind)];
        context.stored(std::move(stored));
        ownEvents_.pop_front();
    }
    return ownEvents_.empty();
}

void ReaderRuntime::Store(zendrik_event& event, Spool::Burst& burst, const StoreContext& context) {
    CopyReaderName(event, config_.name);
    StoredEvent stored{config_.name, 0, zendrik_event_kind_name(event.kind), {}};
    const std::string& topic = event.kind == ZENDRIK_EVENT_READ ? readsTopic_ : eventsTopic_;
    stored.seq = burst.Add(config_.name, topic, [&](uint64_t given) {
        event.seq = given;
        stored.payload = context.render(event);
        return stored.payload;
    });
    ++eventsByKind_[zendrik_event_kind_name(event.kind)];
    context.stored(std::move(stored));
}

// Every read counts, published or not; the link is followed whatever is published of it.
void ReaderRuntime::Count(const zendrik_event& event) {
    if (event.kind == ZENDRIK_EVENT_READ) {
        ++status_.reads;
        if (event.round_us > 0) {
            roundSeconds_.Observe(event.round_us / kMicrosecondsPerSecond);
        }
    } else if (event.kind == ZENDRIK_EVENT_LINK_LOST || event.kind == ZENDRIK_EVENT_LINK_RESTORED ||
               event.kind == ZENDRIK_EVENT_LINK_UP) {
        NoteLink(event);
    }
}

std::optional<int32_t> ReaderRuntime::Request(ReaderRequest request, Completion done) {
    if (!source_ || phase_ != Phase::kRunning || stopWanted_) {
        return ZENDRIK_ERR_NOT_REACHED;
    }
    const std::variant<uint64_t, int32_t> queued = source_->Submit(request);
    if (const int32_t* code = std::get_if<int32_t>(&queued)) {
        return *code;
    }
    pending_.emplace(std::get<uint64_t>(queued), std::move(done));
    return std::nullopt;
}

void ReaderRuntime::DispatchCompletions() {
    std::vector<zendrik_event> completions;
    completions.swap(completions_);
    for (const zendrik_event& completed : completions) {
        const auto waiting = pending_.find(completed.request_id);
        if (waiting == pending_.end()) {
            continue;
        }
        Completion done = std::move(waiting->second);
        pending_.erase(waiting);
        done(completed);
    }
}

// Requests the reader will never answer now: each gets a failure, none is left without one.
void ReaderRuntime::FailPending(const std::string& why) {
    std::map<uint64_t, Completion> pending;
    pending.swap(pending_);
    auto failed = std::make_unique<zendrik_event>();
    failed->kind = ZENDRIK_EVENT_COMPLETED;
    failed->result = ZENDRIK_ERR_CANCELLED;
    std::snprintf(failed->message, sizeof failed->message, "%s", why.c_str());
    for (auto& [id, done] : pending) {
        failed->request_id = id;
        done(*failed);
    }
}

void ReaderRuntime::NoteInventory(bool running) {
    if (running != inventoryRunning_) {
        inventoryRunning_ = running;
        Log(Label() + (running ? ": inventory started" : ": inventory stopped"));
        StatusChanged();
    }
    if (running) {
        stoppedProbe_.Disarm();
    } else {
        stoppedProbe_.ArmIn(kStoppedProbeInterval);
    }
}

void ReaderRuntime::ProbeWhileStopped() {
    if (inventoryRunning_ || stopWanted_) {
        return;
    }
    Request(ReaderRequest{ZENDRIK_REQUEST_INFO, {}}, [](const zendrik_event&) {});
    stoppedProbe_.ArmIn(kStoppedProbeInterval);
}

void ReaderRuntime::Emit(std::string_view kind, nlohmann::ordered_json fields) {
    ownEvents_.push_back(OwnEvent{kind, std::move(fields)});
    owner_.OnEventsQueued(*this);
}

void ReaderRuntime::SettingsChanged() {
    StatusChanged();
}

void ReaderRuntime::StatusChanged() {
    if (statusKnown_) {
        owner_.OnStatusChanged(*this);
    }
}

void ReaderRuntime::NoteLink(const zendrik_event& event) {
    const bool up = event.kind != ZENDRIK_EVENT_LINK_LOST;
    linkSeen_ = true;
    linkChanged_ = linkChanged_ || status_.linkUp != up;
    status_.linkUp = up;
    if (up) {
        Log(Label() + ": " + (everUp_ ? "link restored" : "link up"));
        everUp_ = true;
        // link-up begins the stream of a reader that answered at open: identified then already.
        identityWanted_ = identityWanted_ || event.kind == ZENDRIK_EVENT_LINK_RESTORED;
        compareWanted_ = true;
        return;
    }
    ++linkLosses_;
    Log(Label() + ": " + (everUp_ ? "link lost: " : "cannot be reached: ") + ResultWords(event.error));
}

void ReaderRuntime::AfterCommit() {
    if (linkChanged_ && statusKnown_) {
        owner_.OnStatusChanged(*this);
    }
    linkChanged_ = false;
    DispatchCompletions();
    if (compareWanted_ && !stopWanted_ && phase_ == Phase::kRunning) {
        compareWanted_ = false;
        desired_.Check();
    }
    if (identityWanted_ && !stopWanted_ && phase_ == Phase::kRunning) {
        AskIdentity();
    }
}

void ReaderRuntime::WatchAgain() {
    watch_.Enable(true);
}

uint64_t ReaderRuntime::SourceDropped() const {
    return source_ && phase_ != Phase::kOpening && phase_ != Phase::kFailed ? source_->dropped() : dropped_;
}

ReaderStatus ReaderRuntime::StatusAt(const ReaderCounts& counts, uint64_t sourceDropped) const {
    ReaderStatus status = status_;
    const auto reads = eventsByKind_.find(zendrik_event_kind_name(ZENDRIK_EVENT_READ));
    status.published = reads == eventsByKind_.end() ? 0 : reads->second;
    status.inventoryRunning = inventoryRunning_;
    status.settings = SettingsStateWords(desired_.state());
    status.driftJson = desired_.driftJson();
    status.spooled = counts.spooled;
    // Everything lost counts: what a full spool dropped and what never reached it.
    status.dropped = counts.dropped + sourceDropped;
    status.dead = counts.dead;
    status.deadReason = counts.deadReason;
    status.spoolFull = counts.spoolFull;
    status.timeMs = UnixNowMs();
    return status;
}

ReaderStatus ReaderRuntime::StatusNow(const ReaderCounts& counts) {
    dropped_ = SourceDropped();
    if (dropped_ > droppedLogged_) {
        Log("reader " + config_.name + ": " + std::to_string(dropped_ - droppedLogged_) +
            " events were dropped before they could be stored (the daemon fell behind)");
        droppedLogged_ = dropped_;
    }
    return StatusAt(counts, dropped_);
}

ReaderSnapshot ReaderRuntime::Snapshot(const ReaderCounts& counts, bool offline) const {
    const uint64_t sourceDropped = SourceDropped();
    ReaderSnapshot snapshot;
    snapshot.name = config_.name;
    snapshot.address = config_.address;
    snapshot.linkUp = status_.linkUp;
    snapshot.inventoryRunning = phase_ == Phase::kRunning && inventoryRunning_;
    // The status as it would be published now, once the first one was: the broker's copy is only
    // as new as the last status round.
    if (statusKnown_) {
        ReaderStatus status = StatusAt(counts, sourceDropped);
        status.offline = offline;
        snapshot.statusJson = ReaderStatusJson(status);
    }
    snapshot.reads = status_.reads;
    for (const auto& [kind, stored] : eventsByKind_) {
        snapshot.published += stored;
    }
    snapshot.linkLosses = linkLosses_;
    snapshot.spooled = counts.spooled;
    snapshot.dropped = counts.dropped + sourceDropped;
    snapshot.dead = counts.dead;
    snapshot.eventsByKind = eventsByKind_;
    snapshot.roundSeconds = roundSeconds_;
    if (desired_.managed()) {
        snapshot.settingsInSync = desired_.state() == SettingsState::kInSync;
        snapshot.managedJson = desired_.DeclaredJson();
    }
    return snapshot;
}

}  // namespace zendrik::daemon
