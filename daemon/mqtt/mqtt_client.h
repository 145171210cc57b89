#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "daemon/config/config.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

namespace zendrik::daemon {

enum class MqttState {
    kDown,        // no connection; the daemon schedules the next attempt
    kConnecting,  // the connection is being made, CONNACK not yet there
    kConnected,
    kRefused,  // the broker or TLS refused us: retrying would not help
};

// A message the broker delivered to a subscription, with what MQTT 5 says about its reply.
struct IncomingMessage {
    std::string topic;
    std::string payload;
    std::optional<std::string> responseTopic;
    std::optional<std::string> correlation;  // the Correlation Data, as bytes
    bool retained = false;                   // kept by the broker from before, not sent now
    // MQTT 5 user properties, as name and value, in the order they came.
    std::vector<std::pair<std::string, std::string>> userProperties;
};

// What became of a message handed to the client.
struct SentMessage {
    std::optional<int> mid;  // its message id; nothing when it was not sent
    // Not sent, as larger than the broker's Maximum Packet Size: the connection goes on.
    bool tooLarge = false;
};

// The broker's answer to one QoS 1 message: a PUBACK, under MQTT 5 with a reason code.
struct Acknowledgement {
    int mid = 0;
    int reason = 0;  // 0 and MQTT 5's codes below 128: taken; 128 and above: refused
    bool refused() const;
};

// One MQTT connection driven by the daemon's own poll loop (libmosquitto's read, write and misc
// steps; no thread of its own). It speaks MQTT 5, which tells the client how large a packet the
// broker takes and which message it refused (a PUBACK with a reason code, where 3.1.1 can only
// end the connection or drop the message in silence); a broker that refuses the protocol version
// is spoken to in 3.1.1 from then on. Every Connect() makes a fresh client, so that nothing the
// last connection still queued is sent again behind the daemon's back: after a lost connection
// the spool decides what goes out, oldest first.
class MqttClient {
  public:
    MqttClient(MqttConfig config, std::string willTopic, std::string willPayload);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Checks what can be checked before the first connection (the TLS CA file): empty when
    // fine, otherwise the reason.
    std::optional<std::string> CheckSetup();

    // Starts a connection; the state becomes kConnecting, or kDown / kRefused at once.
    void Connect();
    // Sends DISCONNECT (the broker then keeps the will to itself) and drops the client.
    void Disconnect();

    MqttState state() const { return state_; }
    // The connection speaks MQTT 5 (known once it is connected).
    bool mqtt5() const { return mqtt5_; }
    // What the broker's CONNACK said: the largest packet it takes (nothing: no limit said), and
    // how many QoS 1 messages it takes unacknowledged (nothing: no limit said).
    std::optional<uint32_t> maximumPacketSize() const { return maximumPacketSize_; }
    std::optional<uint16_t> receiveMaximum() const { return receiveMaximum_; }
    // Why the last connection failed or ended, in words.
    const std::string& failure() const { return failure_; }

    int socket() const;
    // Counts the clients made, one a connection attempt: a socket of another attempt may have the
    // same number as the one before it.
    uint64_t attempt() const { return attempts_; }
    bool wantWrite() const;
    // One pass of the client's work after poll(): read when `readable`, write when `writable`,
    // keep-alive and time-outs always.
    void Service(bool readable, bool writable);

    // QoS 1. Gives the message id; or, not sent, whether it was too large for the broker (the
    // connection goes on) or the client could not take it (then the connection counts as down).
    SentMessage Publish(const std::string& topic, const std::string& payload, bool retain,
                        const std::optional<std::string>& correlation = std::nullopt);
    // Subscribes at QoS 1 (while connected); false when the client would not take it.
    bool Subscribe(const std::string& filter);
    // Messages delivered since the last call, oldest first.
    std::vector<IncomingMessage> TakeMessages();
    // The broker's answers to messages since the last call.
    std::vector<Acknowledgement> TakeAcknowledged();
    // An MQTT 5 reason code in words.
    static std::string ReasonWords(int reason);

  private:
    uint64_t attempts_ = 0;
    struct Deleter {
        void operator()(mosquitto* client) const;
    };
    static void OnConnect(mosquitto*, void* self, int code, int flags, const mosquitto_property* properties);
    static void OnDisconnect(mosquitto*, void* self, int code);
    static void OnPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property* properties);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property* properties);
    void Fail(int code, const std::string& doing);
    void TakeConnackProperties(const mosquitto_property* properties);

    MqttConfig config_;
    std::string willTopic_;
    std::string willPayload_;
    std::unique_ptr<mosquitto, Deleter> client_;
    MqttState state_ = MqttState::kDown;
    bool v311Only_ = false;  // the broker refused MQTT 5, or the configuration says so
    bool mqtt5_ = false;
    std::optional<uint32_t> maximumPacketSize_;
    std::optional<uint16_t> receiveMaximum_;
    std::string failure_;
    std::vector<Acknowledgement> acknowledged_;
    std::vector<IncomingMessage> messages_;
};

}  // namespace zendrik::daemon
