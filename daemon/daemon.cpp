#include "daemon/daemon.h"

#include <poll.h>

#include <algorithm>
#include <cstring>

#include "daemon/log.h"

namespace zendrik::daemon {
namespace {

using std::chrono::milliseconds;

// Messages handed to the MQTT client and not yet acknowledged. Enough to keep a loopback or LAN
// link busy, small enough that a lost connection sends little twice.
constexpr std::size_t kInFlightWindow = 256;
// Events taken from the readers in one transaction before the loop turns to the broker again.
constexpr std::size_t kEventsPerBurst = 4096;
// A connection that has not been accepted by then is given up and tried again.
constexpr milliseconds kConnectTimeout{10000};
// libmosquitto's keep-alive and time-outs need its misc step at least this often.
constexpr milliseconds kMqttHousekeeping{1000};
// On SIGTERM: time to send what is spooled, then to have "offline" acknowledged.
constexpr milliseconds kFlushTime{3000};
constexpr milliseconds kOfflineAckTime{1000};

void CopyReaderName(zendrik_event& event, const std::string& name) {
    const std::size_t length = std::min(name.size(), sizeof event.reader - 1);
    std::memcpy(event.reader, name.data(), length);
    event.reader[length] = '\0';
}

}  // namespace

Daemon::Daemon(const DaemonConfig& config, std::vector<ReaderSlot> readers, EventRenderer render,
               Spool& spool, Notifier& notifier)
    : config_(config),
      topics_(config.mqtt.topicPrefix, config.site),
      render_(std::move(render)),
      spool_(spool),
      notifier_(notifier),
      mqtt_(config.mqtt, topics_.SiteStatus(), SiteOfflineJson()),
      backoff_(
          BackoffPolicy{milliseconds{config.mqtt.reconnectMinMs}, milliseconds{config.mqtt.reconnectMaxMs}}) {
    for (ReaderSlot& slot : readers) {
        readers_.push_back(Reader{std::move(slot.name), std::move(slot.source), ReaderStatus{}});
    }
}

int Daemon::Run(int stopFd) {
    if (const auto problem = mqtt_.CheckSetup()) {
        Log("cannot set up MQTT: " + *problem);
        return kExitFailure;
    }
    startedMs_ = UnixNowMs();
    IdentifyAll();
    const Clock::time_point now = Clock::now();
    reconnectAt_ = now;
    nextStatus_ = now + milliseconds{config_.statusIntervalMs};
    nextCheckpoint_ = now + milliseconds{config_.spool.checkpointIntervalMs};
    nextWatchdog_ = now;
    notifier_.Ready(StatusLine());
    Log("reading " + std::to_string(readers_.size()) + " readers of site " + config_.site + " into " +
        config_.spool.path + ", publishing to " + config_.mqtt.host + ":" +
        std::to_string(config_.mqtt.port));
    bool stop = false;
    while (!stop && !refused_) {
        RunTimers(Clock::now());
        ConnectIfDue(Clock::now());
        SendFromSpool();
        PollOnce(stopFd, PollTimeoutMs(Clock::now()), stop);
    }
    if (refused_) {
        notifier_.Stopping(StatusLine());
        for (Reader& reader : readers_) {
            reader.source->Stop();
        }
        while (StoreEvents(kEventsPerBurst) > 0) {
        }
        return kExitBrokerRefused;
    }
    Flush();
    return kExitOk;
}

void Daemon::IdentifyAll() {
    for (Reader& reader : readers_) {
        Identify(reader);
        reader.status.linkUp = reader.status.kind.has_value();
        const ReaderCounts counts = spool_.counts(reader.name);
        reader.status.spooled = counts.spooled;
        reader.status.dropped = counts.dropped;
    }
}

void Daemon::Identify(Reader& reader) {
    if (const auto identity = reader.source->Identify()) {
        reader.status.kind = identity->kind;
        reader.status.version = identity->version;
        reader.status.serial = identity->serial;
    }
}

std::size_t Daemon::StoreEvents(std::size_t limit) {
    Spool::Burst burst = spool_.Begin();
    std::vector<Reader*> changed;
    std::vector<Reader*> restored;
    zendrik_event event{};
    for (Reader& reader : readers_) {
        uint64_t reads = 0;
        bool linkChanged = false;
        while (burst.added() < limit && reader.source->Next(event)) {
            CopyReaderName(event, reader.name);
            burst.Add(reader.name, topics_.ForEvent(reader.name, event.kind), [&](uint64_t seq) {
                event.seq = seq;
                return render_(event);
            });
            if (event.kind == ZENDRIK_EVENT_READ) {
                ++reads;
            } else if (event.kind == ZENDRIK_EVENT_LINK_LOST || event.kind == ZENDRIK_EVENT_LINK_RESTORED ||
                       event.kind == ZENDRIK_EVENT_LINK_UP) {
                // link-up begins a reader's stream: identified at the start already.
                const bool up = event.kind != ZENDRIK_EVENT_LINK_LOST;
                linkChanged = linkChanged || reader.status.linkUp != up;
                reader.status.linkUp = up;
                if (event.kind == ZENDRIK_EVENT_LINK_RESTORED) {
                    restored.push_back(&reader);
                }
            }
        }
        reader.status.reads += reads;
        if (linkChanged) {
            changed.push_back(&reader);
        }
    }
    if (burst.added() == 0) {
        return 0;
    }
    burst.Commit();
    for (Reader* reader : restored) {
        // The reader may have been swapped while it was away.
        Identify(*reader);
    }
    for (Reader* reader : changed) {
        Log("reader " + reader->name + ": " + (reader->status.linkUp ? "link restored" : "link lost"));
        PublishReaderStatus(*reader);
    }
    return burst.added();
}

void Daemon::ConnectIfDue(Clock::time_point now) {
    if (mqtt_.state() == MqttState::kConnecting && now >= connectDeadline_) {
        mqtt_.Disconnect();
        Log("the broker did not accept the connection in time");
        OnConnectionLost(now);
        return;
    }
    if (mqtt_.state() != MqttState::kDown || now < reconnectAt_) {
        return;
    }
    mqtt_.Connect();
    connectDeadline_ = now + kConnectTimeout;
    if (mqtt_.state() == MqttState::kDown) {
        // Failed at once (nothing listening, no route): no state change to notice, so the next
        // attempt is scheduled here.
        if (backoff_.failures() == 0) {
            Log(mqtt_.failure());
        }
        OnConnectionLost(now);
        notifier_.Status(StatusLine());
        return;
    }
    AfterMqttService(now);
}

void Daemon::AfterMqttService(Clock::time_point now) {
    const MqttState state = mqtt_.state();
    if (state == lastMqttState_) {
        return;
    }
    const MqttState before = lastMqttState_;
    lastMqttState_ = state;
    if (state == MqttState::kConnected) {
        OnConnected();
    } else if (state == MqttState::kRefused) {
        Log("not trying again: " + mqtt_.failure());
        refused_ = true;
    } else if (state == MqttState::kDown) {
        if (before == MqttState::kConnected || backoff_.failures() == 0) {
            Log(mqtt_.failure());
        }
        OnConnectionLost(now);
    }
    notifier_.Status(StatusLine());
}

void Daemon::OnConnected() {
    backoff_.Succeeded();
    Log("connected to the broker at " + config_.mqtt.host + ":" + std::to_string(config_.mqtt.port) + "; " +
        std::to_string(spool_.size()) + " messages spooled");
    PublishSiteOnline();
    PublishAllStatuses();
}

void Daemon::OnConnectionLost(Clock::time_point now) {
    lastMqttState_ = MqttState::kDown;
    // What was handed over goes out again, oldest first, on the next connection.
    spool_.ReturnHandedOver();
    inFlight_.clear();
    reconnectAt_ = now + backoff_.NextDelay();
}

void Daemon::SendFromSpool() {
    while (mqtt_.state() == MqttState::kConnected && inFlight_.size() < kInFlightWindow &&
           spool_.size() > inFlight_.size()) {
        const std::vector<SpooledMessage> batch = spool_.HandOver(kInFlightWindow - inFlight_.size());
        if (batch.empty()) {
            return;
        }
        for (const SpooledMessage& message : batch) {
            const std::optional<int> mid = mqtt_.Publish(message.topic, message.payload, false);
            if (!mid) {
                AfterMqttService(Clock::now());
                return;
            }
            inFlight_[*mid] = message.id;
        }
    }
}

void Daemon::TakeAcknowledgements() {
    std::vector<int64_t> rows;
    for (const int mid : mqtt_.TakeAcknowledged()) {
        awaitedAcknowledged_ = awaitedAcknowledged_ || mid == awaitedMid_;
        if (const auto found = inFlight_.find(mid); found != inFlight_.end()) {
            rows.push_back(found->second);
            inFlight_.erase(found);
        }
    }
    spool_.Acknowledge(rows);
}

void Daemon::PublishSiteOnline() {
    mqtt_.Publish(topics_.SiteStatus(), SiteOnlineJson(UnixNowMs(), startedMs_, readers_.size()), true);
}

void Daemon::PublishReaderStatus(Reader& reader) {
    const ReaderCounts counts = spool_.counts(reader.name);
    const uint64_t lostBeforeStore = reader.source->dropped();
    if (lostBeforeStore > reader.lostBeforeStore) {
        Log("reader " + reader.name + ": " + std::to_string(lostBeforeStore - reader.lostBeforeStore) +
            " events were dropped before they could be stored (the daemon fell behind)");
        reader.lostBeforeStore = lostBeforeStore;
    }
    reader.status.spooled = counts.spooled;
    // Everything lost counts: what a full spool dropped and what never reached it.
    reader.status.dropped = counts.dropped + lostBeforeStore;
    reader.status.timeMs = UnixNowMs();
    mqtt_.Publish(topics_.ReaderStatus(reader.name), ReaderStatusJson(reader.status), true);
}

void Daemon::PublishAllStatuses() {
    for (Reader& reader : readers_) {
        PublishReaderStatus(reader);
    }
}

void Daemon::RunTimers(Clock::time_point now) {
    if (now >= nextStatus_) {
        PublishSiteOnline();
        PublishAllStatuses();
        nextStatus_ = now + milliseconds{config_.statusIntervalMs};
    }
    if (now >= nextCheckpoint_) {
        spool_.Checkpoint();
        nextCheckpoint_ = now + milliseconds{config_.spool.checkpointIntervalMs};
    }
    if (const auto period = notifier_.watchdogPeriod(); period && now >= nextWatchdog_) {
        notifier_.Watchdog();
        nextWatchdog_ = now + *period;
    }
}

int Daemon::PollTimeoutMs(Clock::time_point now) const {
    Clock::time_point next = std::min({nextStatus_, nextCheckpoint_, now + kMqttHousekeeping});
    if (notifier_.watchdogPeriod()) {
        next = std::min(next, nextWatchdog_);
    }
    if (mqtt_.state() == MqttState::kDown) {
        next = std::min(next, reconnectAt_);
    } else if (mqtt_.state() == MqttState::kConnecting) {
        next = std::min(next, connectDeadline_);
    }
    const auto wait = std::chrono::ceil<milliseconds>(next - now).count();
    return static_cast<int>(std::max<decltype(wait)>(wait, 0));
}

void Daemon::PollOnce(int stopFd, int timeoutMs, bool& stop) {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{stopFd, POLLIN, 0});
    for (const Reader& reader : readers_) {
        fds.push_back(pollfd{reader.source->eventFd(), POLLIN, 0});
    }
    const int mqttSocket = mqtt_.socket();
    if (mqttSocket >= 0) {
        fds.push_back(pollfd{mqttSocket, static_cast<short>(POLLIN | (mqtt_.wantWrite() ? POLLOUT : 0)), 0});
    }
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
        return;  // a signal: the loop comes round again
    }
    stop = (fds[0].revents & POLLIN) != 0;
    bool eventsQueued = false;
    for (std::size_t i = 1; i <= readers_.size(); ++i) {
        eventsQueued = eventsQueued || (fds[i].revents & POLLIN) != 0;
    }
    if (eventsQueued) {
        StoreEvents(kEventsPerBurst);
    }
    const short mqttEvents = mqttSocket >= 0 ? fds.back().revents : 0;
    mqtt_.Service((mqttEvents & (POLLIN | POLLERR | POLLHUP)) != 0, (mqttEvents & POLLOUT) != 0);
    TakeAcknowledgements();
    AfterMqttService(Clock::now());
}

void Daemon::Flush() {
    notifier_.Stopping(StatusLine());
    for (Reader& reader : readers_) {
        reader.source->Stop();
    }
    while (StoreEvents(kEventsPerBurst) > 0) {
    }
    const int noStop = -1;  // poll() skips negative descriptors
    bool ignored = false;
    const Clock::time_point flushEnd = Clock::now() + kFlushTime;
    while (mqtt_.state() == MqttState::kConnected && spool_.size() > 0 && Clock::now() < flushEnd) {
        SendFromSpool();
        PollOnce(noStop, PollTimeoutMs(Clock::now()), ignored);
    }
    if (mqtt_.state() == MqttState::kConnected) {
        awaitedMid_ = mqtt_.Publish(topics_.SiteStatus(), SiteOfflineJson(), true);
        awaitedAcknowledged_ = false;
        const Clock::time_point ackEnd = Clock::now() + kOfflineAckTime;
        while (awaitedMid_ && !awaitedAcknowledged_ && mqtt_.state() == MqttState::kConnected &&
               Clock::now() < ackEnd) {
            PollOnce(noStop, PollTimeoutMs(Clock::now()), ignored);
        }
        mqtt_.Disconnect();
    }
    spool_.Checkpoint();
    Log("stopped; " + std::to_string(spool_.size()) + " messages stay in the spool");
}

std::string Daemon::StatusLine() const {
    std::size_t online = 0;
    for (const Reader& reader : readers_) {
        online += reader.status.linkUp ? 1 : 0;
    }
    std::string broker;
    switch (mqtt_.state()) {
        case MqttState::kConnected:
            broker = "broker connected";
            break;
        case MqttState::kConnecting:
            broker = "connecting to the broker";
            break;
        case MqttState::kRefused:
            broker = "refused by the broker";
            break;
        case MqttState::kDown:
            broker = "broker unreachable";
            break;
    }
    return broker + ", " + std::to_string(online) + "/" + std::to_string(readers_.size()) +
           " readers online, " + std::to_string(spool_.size()) + " spooled";
}

}  // namespace zendrik::daemon
