#include "daemon/mqtt_client.h"

#include <mosquitto.h>
#include <unistd.h>

#include <mutex>

namespace zendrik::daemon {
namespace {

constexpr int kQos = 1;
// Several packets per pass, so that a burst of acknowledgements is taken in one wake-up.
constexpr int kPacketsPerPass = 64;

// CONNACK codes of MQTT 3.1.1.
constexpr int kConnackServerUnavailable = 3;

void InitialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Errors that another attempt cannot cure.
bool IsRefusal(int code) {
    return code == MOSQ_ERR_TLS || code == MOSQ_ERR_AUTH || code == MOSQ_ERR_ACL_DENIED ||
           code == MOSQ_ERR_PROTOCOL || code == MOSQ_ERR_NOT_SUPPORTED || code == MOSQ_ERR_INVAL ||
           code == MOSQ_ERR_TLS_HANDSHAKE;
}

}  // namespace

void MqttClient::Deleter::operator()(mosquitto* client) const {
    mosquitto_destroy(client);
}

MqttClient::MqttClient(MqttConfig config, std::string willTopic, std::string willPayload)
    : config_(std::move(config)), willTopic_(std::move(willTopic)), willPayload_(std::move(willPayload)) {
    InitialiseLibraryOnce();
}

MqttClient::~MqttClient() = default;

std::optional<std::string> MqttClient::CheckSetup() {
    if (config_.caFile && ::access(config_.caFile->c_str(), R_OK) != 0) {
        return "the CA file " + *config_.caFile + " cannot be read";
    }
    return std::nullopt;
}

void MqttClient::Fail(int code, const std::string& doing) {
    client_.reset();
    failure_ = doing + ": " + mosquitto_strerror(code);
    state_ = IsRefusal(code) ? MqttState::kRefused : MqttState::kDown;
}

void MqttClient::Connect() {
    client_.reset(mosquitto_new(config_.clientId.c_str(), true, this));
    acknowledged_.clear();
    if (!client_) {
        failure_ = "cannot make an MQTT client";
        state_ = MqttState::kDown;
        return;
    }
    mosquitto* client = client_.get();
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // The daemon bounds what it hands over itself; the client must send all of it at once.
    mosquitto_max_inflight_messages_set(client, 0);
    mosquitto_connect_callback_set(client, &MqttClient::OnConnect);
    mosquitto_disconnect_callback_set(client, &MqttClient::OnDisconnect);
    mosquitto_publish_callback_set(client, &MqttClient::OnPublish);
    int code = mosquitto_will_set(client, willTopic_.c_str(), static_cast<int>(willPayload_.size()),
                                  willPayload_.data(), kQos, true);
    if (code == MOSQ_ERR_SUCCESS && config_.username) {
        code = mosquitto_username_pw_set(client, config_.username->c_str(),
                                         config_.password ? config_.password->c_str() : nullptr);
    }
    if (code == MOSQ_ERR_SUCCESS && config_.caFile) {
        code = mosquitto_tls_set(client, config_.caFile->c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        Fail(code, "setting up the MQTT client");
        return;
    }
    code = mosquitto_connect_async(client, config_.host.c_str(), config_.port,
                                   static_cast<int>(config_.keepaliveSeconds));
    if (code != MOSQ_ERR_SUCCESS) {
        const std::string where = config_.host + ":" + std::to_string(config_.port);
        Fail(code, "connecting to " + where);
        return;
    }
    state_ = MqttState::kConnecting;
}

void MqttClient::Disconnect() {
    if (client_ && state_ == MqttState::kConnected) {
        mosquitto_disconnect(client_.get());
        // Let the DISCONNECT packet leave before the socket closes.
        mosquitto_loop_write(client_.get(), kPacketsPerPass);
    }
    client_.reset();
    state_ = MqttState::kDown;
}

int MqttClient::socket() const {
    return client_ ? mosquitto_socket(client_.get()) : -1;
}

bool MqttClient::wantWrite() const {
    return client_ && mosquitto_want_write(client_.get());
}

void MqttClient::Service(bool readable, bool writable) {
    if (!client_) {
        return;
    }
    int code = MOSQ_ERR_SUCCESS;
    if (readable) {
        code = mosquitto_loop_read(client_.get(), kPacketsPerPass);
    }
    if (code == MOSQ_ERR_SUCCESS && client_ && writable) {
        code = mosquitto_loop_write(client_.get(), kPacketsPerPass);
    }
    if (code == MOSQ_ERR_SUCCESS && client_) {
        code = mosquitto_loop_misc(client_.get());
    }
    // A callback may have ended the connection already; its reason is kept.
    if (code != MOSQ_ERR_SUCCESS && client_ && state_ != MqttState::kDown && state_ != MqttState::kRefused) {
        Fail(code, "MQTT connection");
    }
    // A connection the broker ended or refused is done with; the next attempt makes a new client.
    if (state_ == MqttState::kDown || state_ == MqttState::kRefused) {
        client_.reset();
    }
}

std::optional<int> MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!client_ || state_ != MqttState::kConnected) {
        return std::nullopt;
    }
    int mid = 0;
    const int code = mosquitto_publish(client_.get(), &mid, topic.c_str(), static_cast<int>(payload.size()),
                                       payload.data(), kQos, retain);
    if (code != MOSQ_ERR_SUCCESS) {
        Fail(code, "publishing to " + topic);
        return std::nullopt;
    }
    return mid;
}

std::vector<int> MqttClient::TakeAcknowledged() {
    std::vector<int> taken;
    taken.swap(acknowledged_);
    return taken;
}

void MqttClient::OnConnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<MqttClient*>(self);
    if (code == 0) {
        client->state_ = MqttState::kConnected;
        client->failure_.clear();
        return;
    }
    client->failure_ = std::string("the broker refused the connection: ") + mosquitto_connack_string(code);
    client->state_ = code == kConnackServerUnavailable ? MqttState::kDown : MqttState::kRefused;
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->state_ == MqttState::kRefused) {
        return;
    }
    if (client->state_ != MqttState::kDown) {
        client->failure_ = std::string("the connection to the broker ended: ") + mosquitto_strerror(code);
    }
    client->state_ = MqttState::kDown;
}

void MqttClient::OnPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttClient*>(self)->acknowledged_.push_back(mid);
}

}  // namespace zendrik::daemon
