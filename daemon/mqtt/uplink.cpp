#include "daemon/mqtt/uplink.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "daemon/common/log.h"
#include "daemon/common/payloads.h"
#include "daemon/mqtt/packet_size.h"

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
// Rows handed over in one call of Pump() while batching: a backlog of a million rows is gathered
// a few thousand at a time, so that the loop turns to its other descriptors between them.
constexpr std::size_t kRowsPerPump = 4096;

std::string ProtocolWords(const MqttClient& mqtt) {
    std::string words = mqtt.mqtt5() ? "MQTT 5" : "MQTT 3.1.1";
    if (const std::optional<uint32_t> size = mqtt.maximumPacketSize()) {
        words += ", packets up to " + std::to_string(*size) + " bytes";
    }
    if (const std::optional<uint16_t> receive = mqtt.receiveMaximum()) {
        words += ", " + std::to_string(*receive) + " messages unacknowledged at most";
    }
    return words;
}

}  // namespace

Uplink::Uplink(EventLoop& loop, const MqttConfig& config, std::string willTopic, std::string willPayload,
               Spool& spool, Listener& listener, const PublishConfig& publish,
               std::optional<uint32_t> replayRate)
    : loop_(loop),
      config_(config),
      spool_(spool),
      listener_(listener),
      mqtt_(config, std::move(willTopic), std::move(willPayload)),
      backoff_(base::BackoffPolicy{milliseconds{config.reconnectMinMs}, milliseconds{config.reconnectMaxMs}}),
      publish_(publish),
      pace_(replayRate) {
    batchDue_ = loop_.AddTimer([this] { Pump(); });
    paceDue_ = loop_.AddTimer([this] { Pump(); });
    pumpAgain_ = loop_.AddDeferred(kSocketPriority, [this] { Pump(); });
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
    batchDue_.Disarm();
    paceDue_.Disarm();
    mqtt_.Disconnect();
    Unwatch();
    lastState_ = MqttState::kDown;
    inFlight_.clear();
    inFlightRows_ = 0;
    batches_.Clear();
    othersInFlight_.clear();
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
        Unwatch();
        return;
    }
    const uint32_t events = EPOLLIN | (mqtt_.wantWrite() ? EPOLLOUT : 0u);
    if (mqtt_.attempt() != watchedAttempt_ || !socketWatch_.valid()) {
        Unwatch();
        // Without a duplicate (no descriptor left) the socket itself is watched, as before.
        SocketDuplicate duplicate(socket);
        socketWatch_ = loop_.AddIo(duplicate.fd >= 0 ? duplicate.fd : socket, events, [this](uint32_t ready) {
            mqtt_.Service((ready & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0, (ready & EPOLLOUT) != 0);
            AfterClientCall();
        });
        socketWatch_.SetPriority(kSocketPriority);
        watchedDuplicate_ = std::move(duplicate);
        watchedAttempt_ = mqtt_.attempt();
        return;
    }
    EventLoop::SetIoEvents(socketWatch_, events);
}

void Uplink::Unwatch() {
    socketWatch_ = EventSource();  // out of epoll while its descriptor is still open
    watchedDuplicate_ = SocketDuplicate();
    watchedAttempt_ = 0;
}

Uplink::SocketDuplicate::SocketDuplicate(int socket) : fd(::fcntl(socket, F_DUPFD_CLOEXEC, 0)) {}

Uplink::SocketDuplicate& Uplink::SocketDuplicate::operator=(SocketDuplicate&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

Uplink::SocketDuplicate::~SocketDuplicate() {
    if (fd >= 0) {
        ::close(fd);
    }
}

void Uplink::OnStateChange(MqttState before, MqttState now) {
    switch (now) {
        case MqttState::kConnected:
            connectDeadline_.Disarm();
            carried_ = false;
            proving_.ArmIn(milliseconds{config_.reconnectMaxMs});
            Log("connected to the broker at " + config_.host + ":" + std::to_string(config_.port) + " (" +
                ProtocolWords(mqtt_) + "); " + std::to_string(spool_.size()) + " messages spooled");
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
    Unwatch();
    connectDeadline_.Disarm();
    std::vector<int64_t> rowsInFlight;
    rowsInFlight.reserve(inFlightRows_);
    std::size_t largestBatch = 0;
    for (const auto& [mid, message] : inFlight_) {
        rowsInFlight.insert(rowsInFlight.end(), message.rows.begin(), message.rows.end());
        largestBatch = std::max(largestBatch, message.batchPacketBytes);
    }
    const bool wasSearching = search_.searching();
    const std::optional<int64_t> culprit = search_.Lost(std::move(rowsInFlight), !othersInFlight_.empty());
    if (!wasSearching && search_.searching() && largestBatch > 0) {
        // Lost twice with the same batches in flight: the broker may end the connection on a
        // packet that large without saying why (MQTT 3.1.1), and the search sends rows alone.
        LowerBatchCap(largestBatch, "the broker ended the connection twice with batches in flight");
    }
    batches_.Clear();
    batchDue_.Disarm();
    if (!inFlight_.empty()) {
        // The broker may have dropped the connection on one of them; a broker that ends a
        // connection discards the acknowledgements it had not sent yet, so only a message sent
        // alone can be told apart. The window opens again as acknowledgements come.
        window_ = 1;
    }
    // What was handed over goes out again, oldest first, on the next connection.
    spool_.ReturnHandedOver();
    if (culprit) {
        SetAside({*culprit}, "the broker ended the connection on it " +
                                 std::to_string(CulpritSearch::kLoneLossesToBlame) +
                                 " times in a row, sent alone");
    }
    inFlight_.clear();
    inFlightRows_ = 0;
    othersInFlight_.clear();
    acknowledgedCalls_.clear();
    carried_ = false;
    if (!closed_) {
        reconnect_.ArmIn(backoff_.NextDelay());
    }
}

void Uplink::SetAside(const std::vector<int64_t>& rows, const std::string& reason) {
    if (rows.empty()) {
        return;
    }
    std::vector<SpooledMessage> moved;
    try {
        moved = spool_.MoveToDeadLetters(rows, reason);
    } catch (const SqliteError& error) {
        // A disk without room: the rows stay and are tried again.
        Log(std::string("messages the broker will not take could not be moved to the dead letters: ") +
            error.what());
        return;
    }
    for (const SpooledMessage& message : moved) {
        search_.Forget(message.id);
        if (told_.emplace(message.reader, reason).second) {
            Log("reader " + message.reader + ": message " + std::to_string(message.seq) + " (" +
                std::to_string(message.payload.size()) + " bytes to " + message.topic + ") is not sent: " +
                reason + "; it and any more of this reader's for that reason go to the spool's dead " +
                "letters, counted in its status");
        }
    }
}

std::optional<uint32_t> Uplink::Limit() const {
    return PacketLimit(config_.maxMessageBytes, mqtt_.maximumPacketSize());
}

bool Uplink::TooLarge(const std::string& topic, const std::string& payload) const {
    const std::optional<uint32_t> limit = Limit();
    return limit && PublishPacketBytes(topic.size(), payload.size(), mqtt_.mqtt5()) > *limit;
}

bool Uplink::Publish(const std::string& topic, const std::string& payload, bool retain,
                     std::function<void()> acknowledged) {
    if (!connected()) {
        return false;
    }
    const SentMessage sent =
        TooLarge(topic, payload) ? SentMessage{std::nullopt, true} : mqtt_.Publish(topic, payload, retain);
    if (sent.tooLarge) {
        if (toldTopics_.insert(topic).second) {
            Log("a message of " + std::to_string(payload.size()) + " bytes to " + topic +
                " is not sent: " + TooLargeWords(Limit().value_or(0)));
        }
        return false;
    }
    if (!sent.mid) {
        AfterClientCall();
        return false;
    }
    othersInFlight_.insert(*sent.mid);
    if (acknowledged) {
        acknowledgedCalls_[*sent.mid] = std::move(acknowledged);
    }
    Watch();
    return true;
}

bool Uplink::PublishReply(const std::string& topic, const std::string& payload,
                          const std::optional<std::string>& correlation) {
    if (!connected() || TooLarge(topic, payload)) {
        return false;
    }
    const SentMessage sent = mqtt_.Publish(topic, payload, false, correlation);
    if (!sent.mid) {
        if (!sent.tooLarge) {
            AfterClientCall();
        }
        return false;
    }
    othersInFlight_.insert(*sent.mid);
    Watch();
    return true;
}

void Uplink::Subscribe(std::string filter, std::function<void(const IncomingMessage&)> handler) {
    subscription_ = std::move(filter);
    onMessage_ = std::move(handler);
}

void Uplink::TakeMessages() {
    for (const IncomingMessage& message : mqtt_.TakeMessages()) {
        if (onMessage_) {
            onMessage_(message);
        }
    }
}

std::size_t Uplink::Room() {
    if (search_.searching()) {
        // A probe goes out alone, and only once the one before it is answered: what is in flight
        // when the connection ends is then the probe.
        return inFlight_.empty() && othersInFlight_.empty() ? search_.probeSize() : 0;
    }
    // A broker's Receive Maximum below the window is kept by libmosquitto: it holds the rest and
    // sends the next as each acknowledgement comes, without waiting for a turn of the loop.
    const std::size_t window = window_ > inFlight_.size() ? window_ - inFlight_.size() : 0;
    return std::min(window, pace_.Allowed(ReadBatches::Clock::now()));
}

BatchLimits Uplink::LimitsNow() const {
    BatchLimits limits;
    limits.reads = Batching() ? publish_.batchMax : 1;
    limits.packetBytes = std::min<std::size_t>(batchBytesCap_, Limit().value_or(kBatchPacketBytesMost));
    limits.wait = milliseconds{publish_.batchMs};
    limits.mqtt5 = mqtt_.mqtt5();
    return limits;
}

void Uplink::LowerBatchCap(std::size_t packetBytes, const std::string& why) {
    const std::size_t lowered = std::min(batchBytesCap_, packetBytes / 2);
    if (lowered == batchBytesCap_) {
        return;
    }
    batchBytesCap_ = lowered;
    Log(why + ": batches of reads are kept within " + std::to_string(lowered) + " bytes from now on");
}

void Uplink::Unbatch(const Outgoing& batch) {
    const auto now = ReadBatches::Clock::now();
    for (SpooledMessage& message : spool_.Peek(batch.rows)) {
        batches_.Add(std::move(message), false, now);
    }
}

bool Uplink::SendReady() {
    std::vector<int64_t> tooLarge;
    // A probe of the search is sent whole, whatever Room() says once its first row is in flight.
    const bool probe = search_.searching();
    while (batches_.hasReady() && (probe || Room() > 0)) {
        Outgoing out = batches_.TakeReady();
        const SentMessage sent = TooLarge(out.topic, out.payload)
                                     ? SentMessage{std::nullopt, true}
                                     : mqtt_.Publish(out.topic, out.payload, false);
        if (sent.tooLarge) {
            if (out.batch) {
                LowerBatchCap(PublishPacketBytes(out.topic.size(), out.payload.size(), mqtt_.mqtt5()),
                              "a batch was larger than the broker takes");
                Unbatch(out);
            } else {
                tooLarge.push_back(out.rows.front());
            }
            continue;
        }
        if (!sent.mid) {
            AfterClientCall();
            return false;
        }
        pace_.Sent(1);
        inFlightRows_ += out.rows.size();
        const std::size_t batchBytes =
            out.batch ? PublishPacketBytes(out.topic.size(), out.payload.size(), mqtt_.mqtt5()) : 0;
        inFlight_[*sent.mid] =
            InFlight{std::move(out.rows), std::move(out.reader), out.firstSeq, out.lastSeq, batchBytes};
    }
    SetAside(tooLarge, TooLargeWords(Limit().value_or(0)));
    return true;
}

void Uplink::Pump() {
    const auto now = ReadBatches::Clock::now();
    if (connected()) {
        batches_.SetLimits(LimitsNow());
        batches_.CloseDue(now);
    }
    std::size_t handedOver = 0;
    while (connected()) {
        if (!SendReady()) {
            return;
        }
        const std::size_t room = Room();
        if (room == 0 || batches_.hasReady() || spool_.size() <= inFlightRows_ + batches_.rows()) {
            break;
        }
        if (handedOver >= kRowsPerPump) {
            pumpAgain_.Schedule();
            break;
        }
        // Without batches a row is a message; with them, a message may take up to batch_max rows.
        const std::size_t limit =
            Batching() ? std::min(kRowsPerPump - handedOver, room * publish_.batchMax) : room;
        std::vector<SpooledMessage> rows = spool_.HandOver(limit);
        if (rows.empty()) {
            break;
        }
        handedOver += rows.size();
        const bool batching = Batching();
        for (SpooledMessage& row : rows) {
            const bool isRead = batching && Topics::IsReads(row.topic);
            batches_.Add(std::move(row), isRead, now);
        }
    }
    ArmPumpTimers();
    Watch();
}

void Uplink::SendBatchesNow() {
    publish_.batchMs = std::min<uint32_t>(publish_.batchMs, 1);
    batches_.CloseDue(ReadBatches::Clock::time_point::max());
    Pump();
}

void Uplink::ArmPumpTimers() {
    if (const auto due = batches_.NextDue(); due && connected()) {
        batchDue_.ArmAt(*due);
    } else {
        batchDue_.Disarm();
    }
    const bool waiting = batches_.hasReady() || spool_.size() > inFlightRows_ + batches_.rows();
    if (connected() && waiting && pace_.limited() && pace_.Allowed(ReadBatches::Clock::now()) == 0) {
        paceDue_.ArmAt(pace_.NextAt());
    }
}

void Uplink::TakeAcknowledgements() {
    const std::vector<Acknowledgement> acknowledgements = mqtt_.TakeAcknowledged();
    if (acknowledgements.empty()) {
        return;
    }
    const auto now = PublishLatency::Clock::now();
    std::vector<int64_t> rows;
    std::map<int, std::vector<int64_t>> refused;  // reason code -> rows
    std::vector<Outgoing> refusedBatches;
    std::vector<std::function<void()>> calls;
    for (const Acknowledgement& acknowledgement : acknowledgements) {
        const int mid = acknowledgement.mid;
        othersInFlight_.erase(mid);
        if (const auto found = inFlight_.find(mid); found != inFlight_.end()) {
            InFlight& message = found->second;
            inFlightRows_ -= message.rows.size();
            for (const int64_t row : message.rows) {
                search_.Settled(row);
            }
            if (acknowledgement.refused() && message.batchPacketBytes > 0) {
                LowerBatchCap(message.batchPacketBytes, "the broker refused a batch: " +
                                                            MqttClient::ReasonWords(acknowledgement.reason));
                refusedBatches.push_back(
                    Outgoing{{}, {}, message.reader, 0, 0, std::move(message.rows), true});
            } else if (acknowledgement.refused()) {
                refused[acknowledgement.reason].push_back(message.rows.front());
            } else {
                rows.insert(rows.end(), message.rows.begin(), message.rows.end());
                for (uint64_t seq = message.firstSeq; seq <= message.lastSeq; ++seq) {
                    latency_.Acknowledged(message.reader, seq, now);
                }
            }
            inFlight_.erase(found);
        } else if (const auto call = acknowledgedCalls_.find(mid); call != acknowledgedCalls_.end()) {
            calls.push_back(std::move(call->second));
            acknowledgedCalls_.erase(call);
        }
    }
    spool_.Acknowledge(rows);
    for (const auto& [reason, refusedRows] : refused) {
        SetAside(refusedRows, "the broker refused it: " + MqttClient::ReasonWords(reason));
    }
    for (const Outgoing& batch : refusedBatches) {
        Unbatch(batch);
    }
    const bool answered = !rows.empty() || !refused.empty() || !refusedBatches.empty();
    if (answered) {
        window_ = std::min(window_ * 2, kInFlightWindow);
        Proven();
    }
    for (const std::function<void()>& call : calls) {
        call();
    }
    if (answered || search_.searching()) {
        Pump();
    }
    listener_.OnUplinkAcknowledged();
}

}  // namespace zendrik::daemon
