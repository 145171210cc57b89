#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/daemon/child_process.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace zendrik::testing {

// A mosquitto broker of the test's own on 127.0.0.1 and a free port, with a temporary
// configuration; it keeps its sessions across Stop() and Start() like a production broker.
class Broker {
  public:
    // `extraConfig` lines go into its configuration (e.g. "allow_anonymous false").
    explicit Broker(const std::string& extraConfig = "allow_anonymous true");
    ~Broker();

    void Start();
    void Stop();
    uint16_t port() const { return port_; }
    std::string log() const;

  private:
    TemporaryDirectory directory_;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
    int64_t receivedUnixMs = 0;  // when it arrived, by the system clock
    std::string correlation;     // MQTT 5 Correlation Data, when it came with one
};

// How a Subscriber connects: a client certificate with its key (over TLS, with caFile), a user
// and password.
struct SubscriberOptions {
    std::string clientId;
    std::string caFile;
    bool mqtt5 = false;
    std::string certFile;
    std::string keyFile;
    std::string username;
    std::string password;
};

// A client that subscribes to `filter` at QoS 1 and collects what arrives on its own thread.
// With a `clientId` its session persists on the broker, so that nothing published while it is
// away (the broker restarting) is lost to it. With a `caFile` it connects with TLS. With `mqtt5` it
// speaks MQTT 5 (its session then ends with its connection), and keeps the Correlation Data.
class Subscriber {
  public:
    Subscriber(uint16_t port, const std::string& filter, const std::string& clientId = "",
               const std::string& caFile = "", bool mqtt5 = false);
    Subscriber(uint16_t port, const std::string& filter, const SubscriberOptions& options);
    ~Subscriber();

    // Waits until `done` holds for what arrived (true) or the deadline passes (false).
    bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::milliseconds deadline = std::chrono::seconds{10});
    std::vector<Message> messages();
    // QoS 1, retained when asked; with MQTT 5 a Response Topic, Correlation Data and the user
    // property "actor" may go with it.
    void Publish(const std::string& topic, const std::string& payload, const std::string& responseTopic = "",
                 const std::string& correlation = "", bool retain = false, const std::string& actor = "");

  private:
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnMessage5(mosquitto*, void* self, const mosquitto_message* message,
                           const mqtt5__property* properties);
    void Keep(const mosquitto_message* message, std::string correlation);

    std::string filter_;
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
    bool subscribed_ = false;
};

// Messages on topics that end in `suffix`.
std::vector<Message> OnTopicsEndingIn(const std::vector<Message>& messages, const std::string& suffix);

}  // namespace zendrik::testing
