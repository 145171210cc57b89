#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/backoff.h"
#include "daemon/common/histogram.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/mqtt/culprit_search.h"
#include "daemon/mqtt/mqtt_client.h"
#include "daemon/mqtt/publish_latency.h"
#include "daemon/mqtt/read_batches.h"
#include "daemon/mqtt/send_pace.h"
#include "daemon/store/spool.h"

namespace zendrik::daemon {

// The site's side of the broker: one MQTT connection on the loop (its socket an I/O source, its
// keep-alive, connect time-out and reconnect back-off timers), the spool sent oldest first with
// at most a window of messages unacknowledged, and the messages outside the spool (statuses). A
// connection ends in one place, however it ended: what was handed over is returned to the spool,
// the window is emptied and the next attempt waits for the back-off, which starts again from its
// first step only once a connection has carried a message of the spool (or lasted as long as the
// longest back-off), never at the CONNACK alone.
//
// A message of the spool that the broker will not take goes to the spool's dead letters, and only
// that one: one larger than the limit (the configuration's max_message_bytes, or the broker's
// Maximum Packet Size) is never sent; one the broker refuses in its PUBACK (MQTT 5) is known by
// its message id; one the broker ends the connection on is found by a CulpritSearch. Each reader
// is told of in the journal once per reason, not once per message.
//
// With batches (PublishConfig::batchMs), the rows handed over are gathered by ReadBatches: each
// reader's reads go as one message per batch, acknowledged as a whole; a batch stays within the
// limit above and 256 KiB. A batch the broker refuses is sent again as its reads, one a message,
// and later batches are kept to half its size; while a culprit is searched for, every row goes
// alone, so that the search blames one row as ever, and a connection lost twice with batches in
// flight halves the batches too (a broker over MQTT 3.1.1 does not tell its limit). With a replay
// rate, the messages of the spool are paced by a SendPace.
class Uplink {
  public:
    class Listener {
      public:
        virtual ~Listener() = default;
        // Accepted by the broker: the statuses go out now.
        virtual void OnUplinkConnected() = 0;
        // Refused by the broker or TLS: trying again would not help.
        virtual void OnUplinkRefused() = 0;
        // The connection's state changed.
        virtual void OnUplinkStateChanged() = 0;
        // The broker acknowledged messages.
        virtual void OnUplinkAcknowledged() = 0;
    };

    Uplink(EventLoop& loop, const MqttConfig& config, std::string willTopic, std::string willPayload,
           Spool& spool, Listener& listener, const PublishConfig& publish = {},
           std::optional<uint32_t> replayRate = std::nullopt);

    // What can be checked before the first connection (the TLS CA file): empty when fine.
    std::optional<std::string> CheckSetup() { return mqtt_.CheckSetup(); }
    // The first attempt, at once.
    void Start();
    // Sends DISCONNECT (the broker then keeps the will to itself) and tries no more.
    void Close();

    // A message outside the spool, QoS 1, sent at once when connected (false otherwise; when it
    // is larger than the limit, said in the journal once per topic; or when the client would not
    // take it: then the connection counts as lost). `acknowledged` runs when the broker has
    // answered it, never after the connection it went out on was lost.
    bool Publish(const std::string& topic, const std::string& payload, bool retain,
                 std::function<void()> acknowledged = {});
    // A reply outside the spool (QoS 1, not retained), with the request's Correlation Data when
    // it came with one; false when not connected.
    bool PublishReply(const std::string& topic, const std::string& payload,
                      const std::optional<std::string>& correlation);
    // From the next connection on (and on every one after it), `filter` is subscribed and what
    // arrives on it goes to `handler`.
    void Subscribe(std::string filter, std::function<void(const IncomingMessage&)> handler);
    // Hands stored messages to the client, oldest first, up to the window.
    void Pump();
    // Every open batch goes now, and from now on each as soon as it is gathered (the daemon stops).
    void SendBatchesNow();
    // A message was stored: the time from now to its acknowledgement is observed.
    void NoteStored(const std::string& reader, uint64_t seq) {
        latency_.Stored(reader, seq, PublishLatency::Clock::now());
    }

    MqttState state() const { return mqtt_.state(); }
    bool connected() const { return mqtt_.state() == MqttState::kConnected; }
    const Histogram& publishSeconds() const { return latency_.histogram(); }

  private:
    struct InFlight {
        std::vector<int64_t> rows;  // one, or a batch's
        std::string reader;
        uint64_t firstSeq = 0;
        uint64_t lastSeq = 0;
        std::size_t batchPacketBytes = 0;  // 0: no batch
    };
    // A message the broker will not take, by reader, as it was told in the journal.
    using Told = std::set<std::pair<std::string, std::string>>;

    void Connect();
    // After every call into the client: its socket watched, acknowledgements taken, a change of
    // state handled.
    void AfterClientCall();
    void Watch();
    void TakeAcknowledgements();
    void TakeMessages();
    void OnStateChange(MqttState before, MqttState now);
    // The one path for a connection that ended.
    void Lost();
    // How many more messages may be handed to the client now.
    std::size_t Room();
    bool Batching() const { return publish_.batchMs > 0 && !search_.searching(); }
    BatchLimits LimitsNow() const;
    // Sends what is ready, as far as there is room; false when the connection was lost doing so.
    bool SendReady();
    // A batch that cannot go as it is: its reads go again one a message.
    void Unbatch(const Outgoing& batch);
    void LowerBatchCap(std::size_t packetBytes, const std::string& why);
    void ArmPumpTimers();
    // The largest packet that may be sent on this connection; nothing: no limit known.
    std::optional<uint32_t> Limit() const;
    bool TooLarge(const std::string& topic, const std::string& payload) const;
    // Moves rows the broker will not take to the dead letters; the first of each reader (for
    // each reason) is told in the journal.
    void SetAside(const std::vector<int64_t>& rows, const std::string& reason);
    void Proven();

    EventLoop& loop_;
    MqttConfig config_;
    Spool& spool_;
    Listener& listener_;
    MqttClient mqtt_;
    MqttState lastState_ = MqttState::kDown;
    base::Backoff backoff_;
    bool carried_ = false;  // the current connection has had a message acknowledged
    bool closed_ = false;
    // Rows in flight at most: one at the start and after a connection lost with rows in flight,
    // doubled by each acknowledgement up to the full window.
    std::size_t window_ = 1;
    PublishConfig publish_;
    ReadBatches batches_;
    SendPace pace_;
    std::size_t batchBytesCap_ = kBatchPacketBytesMost;
    std::size_t inFlightRows_ = 0;  // spool rows of the messages in inFlight_
    CulpritSearch search_;
    Told told_;
    std::set<std::string> toldTopics_;            // topics of too large messages outside the spool
    std::unordered_map<int, InFlight> inFlight_;  // message id -> spool row
    std::unordered_set<int> othersInFlight_;      // outside the spool
    std::unordered_map<int, std::function<void()>> acknowledgedCalls_;  // message id -> call
    PublishLatency latency_;
    std::string subscription_;
    std::function<void(const IncomingMessage&)> onMessage_;
    // The loop watches a duplicate of the client's socket, closed only after the watch is gone:
    // the client library closes its own socket itself, and a registration left in epoll by a
    // socket closed under it would outlive its watch when a forked process still holds the socket
    // (a program embedding the daemon's parts that starts others), and then wake a freed watch.
    struct SocketDuplicate {
        int fd = -1;
        SocketDuplicate() = default;
        explicit SocketDuplicate(int socket);
        SocketDuplicate(SocketDuplicate&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
        SocketDuplicate& operator=(SocketDuplicate&& other) noexcept;
        ~SocketDuplicate();
    };
    void Unwatch();
    SocketDuplicate watchedDuplicate_;
    EventSource socketWatch_;      // declared after the duplicate, so that it goes first
    uint64_t watchedAttempt_ = 0;  // the client's attempt whose socket is watched
    Timer reconnect_;
    Timer connectDeadline_;
    Timer proving_;
    Timer housekeeping_;
    Timer batchDue_;
    Timer paceDue_;
    Deferred pumpAgain_;
};

}  // namespace zendrik::daemon
