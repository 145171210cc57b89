#pragma once

#include <memory>
#include <optional>
#include <string>
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
};

// One MQTT connection (3.1.1, or 5 when asked) driven by the daemon's own poll loop (libmosquitto's read,
// write and misc steps; no thread of its own). Every Connect() makes a fresh client, so that nothing the last
// connection still queued is sent again behind the daemon's back: after a lost connection the
// spool decides what goes out, oldest first.
class MqttClient {
  public:
    MqttClient(MqttConfig config, std::string willTopic, std::string willPayload);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Checks what can be checked before the first connection (the TLS CA file): empty when
    // fine, otherwise the reason.
    std::optional<std::string> CheckSetup();

    // From the next connection on, MQTT 5 (for the Response Topic and Correlation Data of
    // requests) instead of 3.1.1. Only asked for when commands are taken: a broker may tell an
    // MQTT 5 client to keep fewer messages unacknowledged (its Receive Maximum) than the spool's
    // window.
    void UseMqtt5() { mqtt5_ = true; }
    // Starts a connection; the state becomes kConnecting, or kDown / kRefused at once.
    void Connect();
    // Sends DISCONNECT (the broker then keeps the will to itself) and drops the client.
    void Disconnect();

    MqttState state() const { return state_; }
    // Why the last connection failed or ended, in words.
    const std::string& failure() const { return failure_; }

    int socket() const;
    bool wantWrite() const;
    // One pass of the client's work after poll(): read when `readable`, write when `writable`,
    // keep-alive and time-outs always.
    void Service(bool readable, bool writable);

    // QoS 1. Gives the message id, or nothing when the client cannot take it (then the
    // connection counts as down).
    std::optional<int> Publish(const std::string& topic, const std::string& payload, bool retain,
                               const std::optional<std::string>& correlation = std::nullopt);
    // Subscribes at QoS 1 (while connected); false when the client would not take it.
    bool Subscribe(const std::string& filter);
    // Messages delivered since the last call, oldest first.
    std::vector<IncomingMessage> TakeMessages();
    // Message ids the broker acknowledged since the last call.
    std::vector<int> TakeAcknowledged();

  private:
    struct Deleter {
        void operator()(mosquitto* client) const;
    };
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnDisconnect(mosquitto*, void* self, int code);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property* properties);
    void Fail(int code, const std::string& doing);

    MqttConfig config_;
    std::string willTopic_;
    std::string willPayload_;
    std::unique_ptr<mosquitto, Deleter> client_;
    MqttState state_ = MqttState::kDown;
    bool mqtt5_ = false;
    std::string failure_;
    std::vector<int> acknowledged_;
    std::vector<IncomingMessage> messages_;
};

}  // namespace zendrik::daemon
