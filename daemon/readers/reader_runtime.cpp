#include "daemon/readers/reader_runtime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/time_text.h"
#include "daemon/common/json_text.h"
#include "daemon/common/log.h"
#include "daemon/readers/session_source.h"
#include "rules/usb_access.h"

namespace zendrik::daemon {
namespace {

// Reader descriptors go before the loop's other work, so that every reader with events queued
// is taken into one spool transaction (they stop being watched until it ran).
constexpr int64_t kReaderWatchPriority = -1;
// A reader whose inventory was stopped is asked this often who it is: the library reports a link
// lost or restored with the request that found it.
constexpr std::chrono::seconds kStoppedProbeInterval{5};

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
      state_(Label()),
      link_(Label(), UnreachedLine()),
      filter_(config_),
      desired_(config_, loop, *this) {
    stoppedProbe_ = loop.AddTimer([this] { ProbeWhileStopped(); });
}

ReaderRuntime::~ReaderRuntime() = default;

std::string ReaderRuntime::Label() const {
    return "reader " + config_.name + " (" + config_.address + ")";
}

void ReaderRuntime::Open() {
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
    state_.Take(failure ? ReaderStep::kOpenFailed : ReaderStep::kOpened);
    if (failure) {
        Log(Label() + ": " + *failure);
    } else {
        watch_ = loop_.AddIo(source_->eventFd(), EPOLLIN, [this](uint32_t) { OnReadable(); });
        watch_.SetPriority(kReaderWatchPriority);
    }
    owner_.OnOpened(*this);
    switch (state()) {
        case ReaderState::kIdentifying:
            AskIdentity();
            break;
        case ReaderState::kStopping:
            BeginStop();
            break;
        case ReaderState::kStopped:
            owner_.OnStopped(*this);
            break;
        default:
            break;
    }
}

// Events wait in the reader's queue. While nobody waits for an answer they stay there for the
// store, which takes them all in one go; while somebody does, they are taken now, so that the
// answer is handed out as soon as it came.
void ReaderRuntime::OnReadable() {
    if (requests_.waiting() && !backlog_.full()) {
        TakeWhileAwaited();
        if (requests_.waiting() && !backlog_.full()) {
            return;  // the queue is empty: watched on for the answer still to come
        }
    }
    // Nobody waits (any more), or the backlog is full: the rest waits for the store.
    watch_.Enable(false);
    owner_.OnEventsQueued(*this);
}

void ReaderRuntime::TakeWhileAwaited() {
    bool held = false;
    while (requests_.waiting() && !backlog_.full() && source_->Next(*scratch_)) {
        zendrik_event& event = *scratch_;
        if (event.kind == ZENDRIK_EVENT_COMPLETED) {
            requests_.Hand(RequestEnd{event, source_->WholeResult(event)});
            continue;
        }
        counters_.Taken(event);
        link_.Note(event);
        if (filter_.Passes(event)) {
            backlog_.AddTaken(event);
        }
        held = true;
    }
    if (held) {
        owner_.OnEventsQueued(*this);  // stored with the next commit, and the link followed after it
    }
}

// The one place that asks a reader who it is: a request in the reader's own queue, answered
// between two inventory rounds, so the loop never waits for it. One is asked at a time.
void ReaderRuntime::AskIdentity() {
    if (identityAsk_ != IdentityAsk::kIdle) {
        identityAsk_ = IdentityAsk::kAskedAgain;
        return;
    }
    identityAsk_ = IdentityAsk::kAsked;
    const std::optional<int32_t> refused =
        Request(ReaderRequest{ZENDRIK_REQUEST_INFO, {}}, [this](const zendrik_event& done) {
            const bool again = identityAsk_ == IdentityAsk::kAskedAgain;
            identityAsk_ = IdentityAsk::kIdle;
            if (done.result == ZENDRIK_OK) {
                OnIdentified(ReaderIdentity{done.info.kind, done.info.version, done.info.serial});
            } else {
                OnIdentified(std::nullopt);
            }
            if (again && state_.reading()) {
                AskIdentity();
            }
        });
    if (refused) {
        // Not queued (the queue full): asked again at the next link change.
        identityAsk_ = IdentityAsk::kIdle;
        OnIdentified(std::nullopt);
    }
}

void ReaderRuntime::OnIdentified(const std::optional<ReaderIdentity>& identity) {
    if (state_.stopAsked()) {
        return;  // the answer of a reader being closed (or the made-up one of its close)
    }
    if (identity) {
        identity_ = identity;
    }
    if (state() == ReaderState::kIdentifying) {
        // Reading began with the link up (it says only a lost one): the answer tells the state.
        link_.NoteFirstAnswer(identity.has_value());
        state_.Take(ReaderStep::kIdentified);
        answered_ = true;
        if (identity) {
            Log(Label() + ": reader of kind " + std::to_string(identity->kind) + ", version " +
                identity->version + ", serial number " + identity->serial);
        }
    }
    TellStatus();
}

void ReaderRuntime::Stop() {
    desired_.Stop();
    stoppedProbe_.Disarm();
    stopWantedOffLoop_->store(true);
    if (!state_.Take(ReaderStep::kStopAsked)) {
        return;  // stopping already
    }
    if (state() == ReaderState::kStopping) {
        BeginStop();
    } else if (state() == ReaderState::kStopped) {
        owner_.OnStopped(*this);  // it could not be opened: nothing to stop
    }
    // kOpeningToStop: the end of the opening goes on with it
}

void ReaderRuntime::BeginStop() {
    offLoop_.Run([this, source = source_] {
        source->Stop();
        return [this] { OnReadingStopped(); };
    });
}

void ReaderRuntime::OnReadingStopped() {
    state_.Take(ReaderStep::kReadingStopped);
    counters_.RememberSourceDropped(source_->dropped());
    owner_.OnStopped(*this);
}

void ReaderRuntime::Close() {
    requests_.FailAll("the reader " + config_.name + " was closed before it answered");
    watch_ = EventSource();  // before the descriptor goes with the reader
    state_.Take(ReaderStep::kCloseAsked);
    offLoop_.Run([this, source = std::exchange(source_, nullptr)]() mutable {
        source.reset();
        return [this] {
            state_.Take(ReaderStep::kClosed);
            owner_.OnClosed(*this);
        };
    });
}

bool ReaderRuntime::TakeEvents(Spool::Burst& burst, const StoreContext& context, std::size_t limit) {
    if (readsTopic_.empty()) {
        readsTopic_ = context.topics.Reads(config_.name);
        eventsTopic_ = context.topics.Events(config_.name);
    }
    if (!TakeBacklog(burst, context, limit)) {
        return false;
    }
    if (!source_ || !state_.sourceOpen()) {
        return true;
    }
    // Taken from the handle a batch at a time: one lock of its queue for many events.
    while (burst.added() < limit) {
        const std::size_t wanted = std::min(context.batch.size(), limit - burst.added());
        const std::size_t taken = source_->NextEvents(context.batch.first(wanted));
        for (std::size_t i = 0; i < taken; ++i) {
            zendrik_event& event = context.batch[i];
            if (event.kind == ZENDRIK_EVENT_COMPLETED) {
                // Its waiter may publish the status or queue events of its own: not while the
                // burst is open, but as soon as it was committed. Its whole result is asked for now,
                // while the library still keeps it.
                completions_.push_back(RequestEnd{event, source_->WholeResult(event)});
                continue;
            }
            counters_.Taken(event);
            link_.Note(event);
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

// What is held goes first: it was taken (or, the daemon's own, found) before anything now queued.
bool ReaderRuntime::TakeBacklog(Spool::Burst& burst, const StoreContext& context, std::size_t limit) {
    while (!backlog_.empty() && burst.added() < limit) {
        ReaderBacklog::Entry& entry = backlog_.front();
        if (auto* event = std::get_if<zendrik_event>(&entry)) {
            Store(*event, burst, context);
        } else {
            StoreOwn(std::get<OwnEvent>(entry), burst, context);
        }
        backlog_.PopFront();
    }
    return backlog_.empty();
}

void ReaderRuntime::StoreOwn(const OwnEvent& own, Spool::Burst& burst, const StoreContext& context) {
    StoredEvent stored{config_.name, 0, own.kind, {}};
    stored.seq = burst.Add(config_.name, eventsTopic_, [&](uint64_t given) {
        nlohmann::ordered_json json;
        json["event"] = own.kind;
        json["reader"] = config_.name;
        json["seq"] = given;
        json["time"] = base::UtcText(UnixNowMs());
        json.update(own.fields);
        stored.payload = JsonText(json);
        return stored.payload;
    });
    counters_.Stored(own.kind);
    context.stored(std::move(stored));
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
    counters_.Stored(stored.kind);
    context.stored(std::move(stored));
    if (event.kind == ZENDRIK_EVENT_READ && context.sighted) {
        context.sighted(event);
    }
}

std::optional<int32_t> ReaderRuntime::Request(ReaderRequest request, Completion done) {
    if (!source_ || !state_.reading()) {
        return ZENDRIK_ERR_NOT_REACHED;
    }
    const std::optional<int32_t> refused = requests_.Submit(*source_, request, std::move(done));
    if (!refused) {
        watch_.Enable(true);  // its answer is taken as soon as it comes
    }
    return refused;
}

void ReaderRuntime::HandHeldCompletions() {
    std::vector<RequestEnd> completions;
    completions.swap(completions_);
    for (const RequestEnd& completed : completions) {
        requests_.Hand(completed);
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
    if (inventoryRunning_ || state_.stopAsked()) {
        return;
    }
    Request(ReaderRequest{ZENDRIK_REQUEST_INFO, {}}, [](const zendrik_event&) {});
    stoppedProbe_.ArmIn(kStoppedProbeInterval);
}

void ReaderRuntime::Emit(std::string_view kind, nlohmann::ordered_json fields) {
    backlog_.AddOwn(OwnEvent{kind, std::move(fields)});
    owner_.OnEventsQueued(*this);
}

void ReaderRuntime::SettingsChanged() {
    StatusChanged();
}

void ReaderRuntime::StatusChanged() {
    if (statusKnown()) {
        TellStatus();
    }
}

ReaderLink::UnreachedLine ReaderRuntime::UnreachedLine() {
    if (!config_.address.starts_with("usb")) {
        return {};
    }
    return [this, address = config_.address](std::string line) {
        offLoop_.Run([line = std::move(line), address] {
            const std::optional<zendrik::UsbOpenProblem> problem = zendrik::usb_open_problem(address);
            const std::string full =
                problem ? line + ": " + rules::UsbAccessWords(problem->device, problem->error) : line;
            return [full] { Log(full); };
        });
    };
}

void ReaderRuntime::TellStatus() {
    link_.StatusTold();
    owner_.OnStatusChanged(*this);
}

void ReaderRuntime::AfterCommit() {
    if (backlog_.taken() > 0) {
        // Events taken early are still to be stored: what follows from them waits for that commit.
        HandHeldCompletions();
        return;
    }
    const LinkFollowUp followUp = link_.TakeFollowUp();
    if (followUp.statusChanged && statusKnown()) {
        TellStatus();
    }
    HandHeldCompletions();
    if (!state_.reading()) {
        return;
    }
    if (followUp.compareSettings) {
        desired_.Check();
    }
    if (followUp.askIdentity) {
        AskIdentity();
    }
}

void ReaderRuntime::WatchAgain() {
    watch_.Enable(true);
}

std::optional<int32_t> ReaderRuntime::kind() const {
    return identity_ ? std::optional<int32_t>(identity_->kind) : std::nullopt;
}

uint64_t ReaderRuntime::SourceDropped() const {
    return source_ && state_.sourceOpen() ? source_->dropped() : counters_.sourceDropped();
}

ReaderStatus ReaderRuntime::StatusAt(const ReaderCounts& counts, uint64_t sourceDropped) const {
    ReaderStatus status;
    status.linkUp = link_.up();
    if (identity_) {
        status.kind = identity_->kind;
        status.version = identity_->version;
        status.serial = identity_->serial;
    }
    status.reads = counters_.reads();
    status.published = counters_.storedReads();
    status.inventoryRunning = inventoryRunning_;
    status.settings = SettingsStateWords(desired_.state());
    status.driftJson = desired_.driftJson();
    status.profile = desired_.profile();
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
    const uint64_t dropped = SourceDropped();
    if (const uint64_t grown = counters_.NoteSourceDropped(dropped); grown > 0) {
        Log("reader " + config_.name + ": " + std::to_string(grown) +
            " events were dropped before they could be stored (the daemon fell behind)");
    }
    return StatusAt(counts, dropped);
}

ReaderSnapshot ReaderRuntime::Snapshot(const ReaderCounts& counts, bool offline) const {
    const uint64_t sourceDropped = SourceDropped();
    ReaderSnapshot snapshot;
    snapshot.name = config_.name;
    snapshot.address = config_.address;
    snapshot.linkUp = link_.up();
    snapshot.inventoryRunning = state_.reading() && inventoryRunning_;
    // The status as it would be published now, once the first one was: the broker's copy is only
    // as new as the last status round.
    if (statusKnown()) {
        ReaderStatus status = StatusAt(counts, sourceDropped);
        status.offline = offline;
        snapshot.statusJson = ReaderStatusJson(status);
    }
    snapshot.reads = counters_.reads();
    snapshot.published = counters_.stored();
    snapshot.linkLosses = link_.losses();
    snapshot.spooled = counts.spooled;
    snapshot.dropped = counts.dropped + sourceDropped;
    snapshot.expired = counts.expired;
    snapshot.dead = counts.dead;
    snapshot.eventsByKind = counters_.storedByKind();
    snapshot.roundSeconds = counters_.roundSeconds();
    if (desired_.managed()) {
        snapshot.settingsInSync = desired_.state() == SettingsState::kInSync;
        snapshot.managedJson = desired_.DeclaredJson();
        snapshot.managedSourcesJson = desired_.SourcesJson();
    }
    return snapshot;
}

}  // namespace zendrik::daemon
