#include "daemon/mqtt/uplink.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "daemon/common/log.h"

namespace zendrik::daemon {
namespace {

using std::chrono::milliseconds;

// Messages handed to the MQTT client and not yet acknowledged. The uplink sends at most a window
// for every turn of the loop, and a turn that stores a burst of many readers takes some 20 ms: 256
// held eight readers to 9 k messages a second while 56 k were stored. Small enough that a lost
// connection sends little twice; and libmosquitto looks for each acknowledged message in a list of
// all of them, so a larger window costs every message more.
constexpr std::size_t kInFlightWindow = 1024;
// A connection that has not been accepted by then is given up and tried again.
constexpr milliseconds kConnectTimeout{10000};
// libmosquitto's keep-alive and time-outs need its misc step at least this often.
constexpr milliseconds kMqttHousekeeping{1000};
// The broker's socket goes before the store of the readers' events (priority 0): readers that
// give more than the loop can store would otherwise keep it storing, and the acknowledgements
// that let the uplink publish more would wait behind them for ever.
constexpr int64_t kSocketPriority = -1;
// A message the broker dropped the connection on this many times in a row is not sent again.
constexpr unsigned kRefusalsToDeadLetter = 2;

}  // namespace

Uplink::Uplink(EventLoop& loop, const MqttConfig& config, std::string willTopic, std::string willPayload,
               Spool& spool, Listener& listener)
    : loop_(loop),
      config_(config),
      spool_(spool),
      listener_(listener),
      mqtt_(config, std::move(willTopic), std::move(willPayload)),
      backoff_(
          base::BackoffPolicy{milliseconds{config.reconnectMinMs}, milliseconds{config.reconnectMaxMs}}) {
    reconnect_ = loop_.AddTimer([this] { Connect(); });
    connectDeadline_ = loop_.AddTimer([this] {
        if (mqtt_.state() != MqttState::kConnecting) {
            return;
        }
        Log("the broker did not accept the connection in time");
        mqtt_.Disconnect();
        lastState_ = MqttState::kDown;
        Lost();
        listener_.OnUplinkStateChanged();
    });
    proving_ = loop_.AddTimer([this] {
        if (connected()) {
            Proven();
        }
    });
    housekeeping_ = loop_.AddTimer([this] {
        mqtt_.Service(false, false);
        AfterClientCall();
        spool_.FlushAcknowledged();
        housekeeping_.ArmIn(kMqttHousekeeping);
    });
}

void Uplink::Start() {
    closed_ = false;
    reconnect_.ArmIn(milliseconds{0});
    housekeeping_.ArmIn(kMqttHousekeeping);
}

void Uplink::Close() {
    closed_ = true;
    reconnect_.Disarm();
    connectDeadline_.Disarm();
    housekeeping_.Disarm();
    proving_.Disarm();
    mqtt_.Disconnect();
    socketWatch_ = EventSource();
    watchedSocket_ = -1;
    lastState_ = MqttState::kDown;
    inFlight_.clear();
    acknowledgedCalls_.clear();
    spool_.ReturnHandedOver();
}

void Uplink::Connect() {
    if (closed_) {
        return;
    }
    mqtt_.Connect();
    if (mqtt_.state() == MqttState::kDown) {
        // Failed at once (nothing listening, no route): no state change to notice, so the next
        // attempt is scheduled here.
        if (backoff_.failures() == 0) {
            Log(mqtt_.failure());
        }
        Lost();
        listener_.OnUplinkStateChanged();
        return;
    }
    if (mqtt_.state() == MqttState::kConnecting) {
        connectDeadline_.ArmIn(kConnectTimeout);
    }
    AfterClientCall();
}

void Uplink::AfterClientCall() {
    TakeAcknowledgements();
    TakeMessages();
    const MqttState now = mqtt_.state();
    if (now != lastState_) {
        const MqttState before = lastState_;
        lastState_ = now;
        OnStateChange(before, now);
    }
    Watch();
}

void Uplink::Watch() {
    const int socket = mqtt_.socket();
    if (socket < 0) {
        socketWatch_ = EventSource();
        watchedSocket_ = -1;
        return;
    }
    const uint32_t events = EPOLLIN | (mqtt_.wantWrite() ? EPOLLOUT : 0u);
    if (socket != watchedSocket_ || !socketWatch_.valid()) {
        socketWatch_ = loop_.AddIo(socket, events, [this](uint32_t ready) {
            mqtt_.Service((ready & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0, (ready & EPOLLOUT) != 0);
            AfterClientCall();
        });
        socketWatch_.SetPriority(kSocketPriority);
        watchedSocket_ = socket;
        return;
    }
    EventLoop::SetIoEvents(socketWatch_, events);
}

void Uplink::OnStateChange(MqttState before, MqttState now) {
    switch (now) {
        case MqttState::kConnected:
            connectDeadline_.Disarm();
            carried_ = false;
            proving_.ArmIn(milliseconds{config_.reconnectMaxMs});
            Log("connected to the broker at " + config_.host + ":" + std::to_string(config_.port) + "; " +
                std::to_string(spool_.size()) + " messages spooled");
            if (!subscription_.empty()) {
                mqtt_.Subscribe(subscription_);
            }
            listener_.OnUplinkConnected();
            Pump();
            break;
        case MqttState::kRefused:
            Log("not trying again: " + mqtt_.failure());
            closed_ = true;
            Lost();
            listener_.OnUplinkRefused();
            break;
        case MqttState::kDown:
            if (before == MqttState::kConnected || backoff_.failures() == 0) {
                Log(mqtt_.failure());
            }
            Lost();
            break;
        case MqttState::kConnecting:
            break;
    }
    listener_.OnUplinkStateChanged();
}

// Only a connection that carried messages counts as a success: one that the broker accepts and
// then drops at the first message read from the spool must not be tried again at once. A
// connection that has nothing to send proves itself by lasting as long as the longest back-off.
void Uplink::Proven() {
    proving_.Disarm();
    if (!carried_) {
        carried_ = true;
        backoff_.Succeeded();
    }
}

void Uplink::Lost() {
    proving_.Disarm();
    socketWatch_ = EventSource();
    watchedSocket_ = -1;
    connectDeadline_.Disarm();
    NoteRefusal();
    if (!inFlight_.empty()) {
        // The broker may have dropped the connection on one of them; a broker that ends a
        // connection discards the acknowledgements it had not sent yet, so only a message sent
        // alone can be told apart. The window opens again as acknowledgements come.
        window_ = 1;
    }
    // What was handed over goes out again, oldest first, on the next connection.
    spool_.ReturnHandedOver();
    MoveRefusedRow();
    inFlight_.clear();
    acknowledgedCalls_.clear();
    carried_ = false;
    if (!closed_) {
        reconnect_.ArmIn(backoff_.NextDelay());
    }
}

void Uplink::NoteRefusal() {
    if (inFlight_.empty()) {
        return;
    }
    int64_t oldest = inFlight_.begin()->second.row;
    for (const auto& [mid, message] : inFlight_) {
        oldest = std::min(oldest, message.row);
    }
    suspectRefusals_ = oldest == suspect_ ? suspectRefusals_ + 1 : 1;
    suspect_ = oldest;
}

void Uplink::MoveRefusedRow() {
    if (suspectRefusals_ < kRefusalsToDeadLetter) {
        return;
    }
    const int64_t row = std::exchange(suspect_, 0);
    suspectRefusals_ = 0;
    std::optional<SpooledMessage> moved;
    try {
        moved = spool_.MoveToDeadLetter(row);
    } catch (const SqliteError& error) {
        // A disk without room: the row stays and is tried again after the next refusals.
        Log(std::string("a message the broker refused could not be moved to the dead letters: ") +
            error.what());
        return;
    }
    if (moved) {
        Log("reader " + moved->reader + ": the broker ended the connection on message " +
            std::to_string(moved->seq) + " (" + std::to_string(moved->payload.size()) + " bytes to " +
            moved->topic + ") " + std::to_string(kRefusalsToDeadLetter) +
            " times in a row; it was moved to the spool's dead letters and is not sent again");
    }
}

bool Uplink::Publish(const std::string& topic, const std::string& payload, bool retain,
                     std::function<void()> acknowledged) {
    if (!connected()) {
        return false;
    }
    const std::optional<int> mid = mqtt_.Publish(topic, payload, retain);
    if (!mid) {
        AfterClientCall();
        return false;
    }
    if (acknowledged) {
        acknowledgedCalls_[*mid] = std::move(acknowledged);
    }
    Watch();
    return true;
}

bool Uplink::PublishReply(const std::string& topic, const std::string& payload,
                          const std::optional<std::string>& correlation) {
    if (!connected()) {
        return false;
    }
    if (!mqtt_.Publish(topic, payload, false, correlation)) {
        AfterClientCall();
        return false;
    }
    Watch();
    return true;
}

void Uplink::Subscribe(std::string filter, std::function<void(const IncomingMessage&)> handler) {
    subscription_ = std::move(filter);
    onMessage_ = std::move(handler);
    mqtt_.UseMqtt5();
}

void Uplink::TakeMessages() {
    for (const IncomingMessage& message : mqtt_.TakeMessages()) {
        if (onMessage_) {
            onMessage_(message);
        }
    }
}

void Uplink::Pump() {
    while (connected() && inFlight_.size() < window_ && spool_.size() > inFlight_.size()) {
        const std::vector<SpooledMessage> batch = spool_.HandOver(window_ - inFlight_.size());
        if (batch.empty()) {
            break;
        }
        for (const SpooledMessage& message : batch) {
            const std::optional<int> mid = mqtt_.Publish(message.topic, message.payload, false);
            if (!mid) {
                AfterClientCall();
                return;
            }
            inFlight_[*mid] = InFlight{message.id, message.reader, message.seq};
        }
    }
    Watch();
}

void Uplink::TakeAcknowledgements() {
    const std::vector<int> mids = mqtt_.TakeAcknowledged();
    if (mids.empty()) {
        return;
    }
    const auto now = PublishLatency::Clock::now();
    std::vector<int64_t> rows;
    std::vector<std::function<void()>> calls;
    for (const int mid : mids) {
        if (const auto row = inFlight_.find(mid); row != inFlight_.end()) {
            rows.push_back(row->second.row);
            if (row->second.row == suspect_) {
                suspect_ = 0;
                suspectRefusals_ = 0;
            }
            latency_.Acknowledged(row->second.reader, row->second.seq, now);
            inFlight_.erase(row);
        } else if (const auto call = acknowledgedCalls_.find(mid); call != acknowledgedCalls_.end()) {
            calls.push_back(std::move(call->second));
            acknowledgedCalls_.erase(call);
        }
    }
    spool_.Acknowledge(rows);
    if (!rows.empty()) {
        window_ = std::min(window_ * 2, kInFlightWindow);
        Proven();
    }
    for (const std::function<void()>& call : calls) {
        call();
    }
    if (!rows.empty()) {
        Pump();
    }
    listener_.OnUplinkAcknowledged();
}

}  // namespace zendrik::daemon
