#include "tests/daemon/broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/loopback.h"

namespace zendrik::testing {
namespace {

constexpr auto kStartDeadline = std::chrono::seconds{10};
constexpr auto kRetryPause = std::chrono::milliseconds{20};
constexpr int kKeepaliveSeconds = 10;
constexpr int kQos = 1;
constexpr unsigned kReconnectDelaySeconds = 1;

int LoopbackSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool Accepts(uint16_t port) {
    const int fd = LoopbackSocket();
    const sockaddr_in address = Loopback(port);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string UserName() {
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? user->pw_name : "root";
}

}  // namespace

Broker::Broker(const std::string& extraConfig) : port_(FreePort()) {
    std::ofstream config(directory_.File("mosquitto.conf"));
    config << "listener " << port_ << " 127.0.0.1\n"
           << "persistence true\n"
           << "persistence_location " << directory_.path() << "/\n"
           << "log_dest stderr\n"
           // Started as root, mosquitto would change to its own user, who cannot write here.
           << "user " << UserName() << "\n"
           << extraConfig << "\n";
    config.close();
    Start();
}

Broker::~Broker() {
    Stop();
}

void Broker::Start() {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"mosquitto", "-c", directory_.File("mosquitto.conf")},
        directory_.File("log"));
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (!Accepts(port_)) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("mosquitto did not start: " + log());
        }
        std::this_thread::sleep_for(kRetryPause);
    }
}

void Broker::Stop() {
    if (process_) {
        process_->Stop();
        process_.reset();
    }
}

std::string Broker::log() const {
    return ReadFile(directory_.File("log"));
}

Subscriber::Subscriber(uint16_t port, const std::string& filter, const std::string& clientId,
                       const std::string& caFile, bool mqtt5)
    : Subscriber(port, filter, SubscriberOptions{clientId, caFile, mqtt5, "", "", "", ""}) {}

Subscriber::Subscriber(uint16_t port, const std::string& filter, const SubscriberOptions& options)
    : filter_(filter) {
    const std::string& clientId = options.clientId;
    const bool mqtt5 = options.mqtt5;
    mosquitto_lib_init();
    const bool persistent = !clientId.empty();
    client_ = mosquitto_new(persistent ? clientId.c_str() : nullptr, !persistent, this);
    if (client_ == nullptr) {
        throw std::runtime_error("mosquitto_new failed");
    }
    mosquitto_connect_callback_set(client_, &Subscriber::OnConnect);
    mosquitto_subscribe_callback_set(client_, &Subscriber::OnSubscribe);
    if (mqtt5) {
        mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_message_v5_callback_set(client_, &Subscriber::OnMessage5);
    } else {
        mosquitto_message_callback_set(client_, &Subscriber::OnMessage);
    }
    mosquitto_reconnect_delay_set(client_, kReconnectDelaySeconds, kReconnectDelaySeconds, false);
    // A request published right after an acknowledgement would otherwise wait, under Nagle's
    // algorithm, for the broker's delayed ACK of it: 40 ms that are neither the broker's nor the
    // daemon's, added to whatever the test or benchmark times.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    const auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
    if (!options.caFile.empty()) {
        mosquitto_tls_set(client_, options.caFile.c_str(), nullptr, orNull(options.certFile),
                          orNull(options.keyFile), nullptr);
    }
    if (!options.username.empty()) {
        mosquitto_username_pw_set(client_, options.username.c_str(), orNull(options.password));
    }
    std::unique_lock lock(mutex_);
    if (mosquitto_connect(client_, "127.0.0.1", port, kKeepaliveSeconds) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(client_);
        throw std::runtime_error("the subscriber cannot connect");
    }
    // Wait for the subscription to be in place before the test publishes anything.
    arrived_.wait_for(lock, kStartDeadline, [this] { return subscribed_; });
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

void Subscriber::OnConnect(mosquitto* client, void* self, int code) {
    auto* subscriber = static_cast<Subscriber*>(self);
    if (code == 0) {
        mosquitto_subscribe(client, nullptr, subscriber->filter_.c_str(), kQos);
    }
}

void Subscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
    auto* subscriber = static_cast<Subscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->subscribed_ = true;
    subscriber->arrived_.notify_all();
}

void Subscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    static_cast<Subscriber*>(self)->Keep(message, "");
}

void Subscriber::OnMessage5(mosquitto*, void* self, const mosquitto_message* message,
                            const mosquitto_property* properties) {
    void* data = nullptr;
    uint16_t length = 0;
    std::string correlation;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length, false) !=
        nullptr) {
        correlation.assign(static_cast<const char*>(data), length);
    }
    std::free(data);
    static_cast<Subscriber*>(self)->Keep(message, correlation);
}

void Subscriber::Keep(const mosquitto_message* message, std::string correlation) {
    std::lock_guard lock(mutex_);
    messages_.push_back(Message{message->topic,
                                std::string(static_cast<const char*>(message->payload),
                                            static_cast<std::size_t>(message->payloadlen)),
                                message->retain,
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count(),
                                std::move(correlation)});
    arrived_.notify_all();
}

void Subscriber::Publish(const std::string& topic, const std::string& payload,
                         const std::string& responseTopic, const std::string& correlation, bool retain,
                         const std::string& actor) {
    mosquitto_property* properties = nullptr;
    if (!actor.empty()) {
        mosquitto_property_add_string_pair(&properties, MQTT_PROP_USER_PROPERTY, "actor", actor.c_str());
    }
    if (!responseTopic.empty()) {
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, responseTopic.c_str());
    }
    if (!correlation.empty()) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<uint16_t>(correlation.size()));
    }
    const int code = mosquitto_publish_v5(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                          payload.data(), kQos, retain, properties);
    mosquitto_property_free_all(&properties);
    if (code != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error(std::string("cannot publish: ") + mosquitto_strerror(code));
    }
}

bool Subscriber::WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                         std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, deadline, [&] { return done(messages_); });
}

std::vector<Message> Subscriber::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<Message> OnTopicsEndingIn(const std::vector<Message>& messages, const std::string& suffix) {
    std::vector<Message> found;
    for (const Message& message : messages) {
        if (message.topic.size() >= suffix.size() &&
            message.topic.compare(message.topic.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(message);
        }
    }
    return found;
}

}  // namespace zendrik::testing
