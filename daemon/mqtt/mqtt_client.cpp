#include "daemon/mqtt/mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <mutex>

namespace zendrik::daemon {
namespace {

constexpr int kQos = 1;
constexpr const char* kTlsAlertWords =
    "the broker ended the TLS handshake (does it require a client certificate, [mqtt] cert_file and "
    "key_file, signed by a CA it trusts?)";
constexpr const char* kSystemCaPath = "/etc/ssl/certs";  // Debian's certificate authorities
// Several packets per pass, so that a burst of acknowledgements is taken in one wake-up.
constexpr int kPacketsPerPass = 64;

// CONNACK reason codes after which another attempt may succeed: MQTT 3.1.1's "server
// unavailable" and MQTT 5's "server unavailable" and "server busy".
constexpr int kConnackServerUnavailable = 3;
constexpr int kReasonServerUnavailable = 136;
constexpr int kReasonServerBusy = 137;
// MQTT 3.1.1 CONNACK codes end here; MQTT 5 reason codes start at 128.
constexpr int kLastConnackCode = 5;
// A broker that does not speak MQTT 5 answers with one of these: 3.1.1's "unacceptable protocol
// version" (libmosquitto hands it on as MQTT 5's code) or MQTT 5's "unsupported protocol version".
constexpr int kConnackBadProtocolVersion = 1;
constexpr int kReasonUnsupportedProtocolVersion = 132;
// MQTT 5 reason codes from here on say the broker did not take the message.
constexpr int kFirstRefusalReason = 128;

bool RefusedProtocolVersion(int code) {
    return code == kConnackBadProtocolVersion || code == kReasonUnsupportedProtocolVersion;
}

bool MayTryAgain(int code) {
    return code == kConnackServerUnavailable || code == kReasonServerUnavailable || code == kReasonServerBusy;
}

const char* ConnackWords(int code) {
    return code <= kLastConnackCode ? mosquitto_connack_string(code) : mosquitto_reason_string(code);
}

struct PropertiesFree {
    void operator()(mosquitto_property* properties) const { mosquitto_property_free_all(&properties); }
};
using Properties = std::unique_ptr<mosquitto_property, PropertiesFree>;

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

bool Acknowledgement::refused() const {
    return reason >= kFirstRefusalReason;
}

void MqttClient::Deleter::operator()(mosquitto* client) const {
    mosquitto_destroy(client);
}

MqttClient::MqttClient(MqttConfig config, std::string willTopic, std::string willPayload)
    : config_(std::move(config)),
      willTopic_(std::move(willTopic)),
      willPayload_(std::move(willPayload)),
      v311Only_(!config_.mqtt5) {
    InitialiseLibraryOnce();
}

MqttClient::~MqttClient() = default;

std::optional<std::string> MqttClient::CheckSetup() {
    if (config_.caFile && ::access(config_.caFile->c_str(), R_OK) != 0) {
        return "the CA file " + *config_.caFile + " cannot be read";
    }
    if (config_.certFile && ::access(config_.certFile->c_str(), R_OK) != 0) {
        return "the client certificate " + *config_.certFile + " cannot be read";
    }
    if (config_.keyFile && ::access(config_.keyFile->c_str(), R_OK) != 0) {
        return "the client key " + *config_.keyFile + " cannot be read";
    }
    return std::nullopt;
}

void MqttClient::Fail(int code, const std::string& doing) {
    // The client library says a TLS alert of the broker (a client certificate it requires and was
    // not given, or one it does not take) as EPROTO, not as a TLS error: another attempt would be
    // refused alike.
    const bool tlsRefused = code == MOSQ_ERR_ERRNO && errno == EPROTO && (config_.caFile || config_.certFile);
    client_.reset();
    failure_ = doing + ": " + (tlsRefused ? kTlsAlertWords : mosquitto_strerror(code));
    state_ = IsRefusal(code) || tlsRefused ? MqttState::kRefused : MqttState::kDown;
}

void MqttClient::Connect() {
    client_.reset(mosquitto_new(config_.clientId.c_str(), true, this));
    ++attempts_;
    acknowledged_.clear();
    if (!client_) {
        failure_ = "cannot make an MQTT client";
        state_ = MqttState::kDown;
        return;
    }
    mosquitto* client = client_.get();
    mqtt5_ = !v311Only_;
    maximumPacketSize_.reset();
    receiveMaximum_.reset();
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, mqtt5_ ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // A command's acknowledgement and its reply are two small packets in a row: with Nagle's rule
    // the reply waits for the broker's delayed ACK of the first (some 40 ms).
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    // The daemon bounds what it hands over itself; the client must send all of it at once.
    mosquitto_max_inflight_messages_set(client, 0);
    mosquitto_connect_v5_callback_set(client, &MqttClient::OnConnect);
    mosquitto_disconnect_callback_set(client, &MqttClient::OnDisconnect);
    mosquitto_publish_v5_callback_set(client, &MqttClient::OnPublish);
    mosquitto_message_v5_callback_set(client, &MqttClient::OnMessage);
    messages_.clear();
    int code = mosquitto_will_set(client, willTopic_.c_str(), static_cast<int>(willPayload_.size()),
                                  willPayload_.data(), kQos, true);
    if (code == MOSQ_ERR_SUCCESS && config_.username) {
        code = mosquitto_username_pw_set(client, config_.username->c_str(),
                                         config_.password ? config_.password->c_str() : nullptr);
    }
    if (code == MOSQ_ERR_SUCCESS && (config_.caFile || config_.certFile)) {
        // A client certificate without a CA file of its own checks the broker against the system's.
        const char* caFile = config_.caFile ? config_.caFile->c_str() : nullptr;
        const char* caPath = config_.caFile ? nullptr : kSystemCaPath;
        code =
            mosquitto_tls_set(client, caFile, caPath, config_.certFile ? config_.certFile->c_str() : nullptr,
                              config_.keyFile ? config_.keyFile->c_str() : nullptr, nullptr);
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

SentMessage MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain,
                                const std::optional<std::string>& correlation) {
    if (!client_ || state_ != MqttState::kConnected) {
        return {};
    }
    mosquitto_property* added = nullptr;
    // Properties are MQTT 5's: a 3.1.1 connection sends the reply without them.
    if (correlation && mqtt5_ &&
        mosquitto_property_add_binary(&added, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<uint16_t>(correlation->size())) != MOSQ_ERR_SUCCESS) {
        mosquitto_property_free_all(&added);
        return {};
    }
    const Properties properties(added);
    int mid = 0;
    const int code =
        mosquitto_publish_v5(client_.get(), &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), kQos, retain, properties.get());
    if (code == MOSQ_ERR_OVERSIZE_PACKET) {
        return SentMessage{std::nullopt, true};
    }
    if (code != MOSQ_ERR_SUCCESS) {
        Fail(code, "publishing to " + topic);
        return {};
    }
    return SentMessage{mid, false};
}

bool MqttClient::Subscribe(const std::string& filter) {
    if (!client_ || state_ != MqttState::kConnected) {
        return false;
    }
    const int code = mosquitto_subscribe(client_.get(), nullptr, filter.c_str(), kQos);
    if (code != MOSQ_ERR_SUCCESS) {
        Fail(code, "subscribing to " + filter);
        return false;
    }
    return true;
}

std::vector<IncomingMessage> MqttClient::TakeMessages() {
    std::vector<IncomingMessage> taken;
    taken.swap(messages_);
    return taken;
}

std::string MqttClient::ReasonWords(int reason) {
    return mosquitto_reason_string(reason);
}

std::vector<Acknowledgement> MqttClient::TakeAcknowledged() {
    std::vector<Acknowledgement> taken;
    taken.swap(acknowledged_);
    return taken;
}

void MqttClient::OnConnect(mosquitto*, void* self, int code, int, const mosquitto_property* properties) {
    auto* client = static_cast<MqttClient*>(self);
    if (code == 0) {
        client->state_ = MqttState::kConnected;
        client->failure_.clear();
        client->TakeConnackProperties(properties);
        return;
    }
    if (client->mqtt5_ && RefusedProtocolVersion(code)) {
        // Tried again at once, in 3.1.1.
        client->v311Only_ = true;
        client->failure_ = "the broker does not speak MQTT 5; connecting with MQTT 3.1.1 from now on";
        client->state_ = MqttState::kDown;
        return;
    }
    client->failure_ = std::string("the broker refused the connection: ") + ConnackWords(code);
    client->state_ = MayTryAgain(code) ? MqttState::kDown : MqttState::kRefused;
}

void MqttClient::TakeConnackProperties(const mosquitto_property* properties) {
    uint32_t packetSize = 0;
    if (mosquitto_property_read_int32(properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, &packetSize, false) !=
        nullptr) {
        maximumPacketSize_ = packetSize;
    }
    uint16_t receiveMaximum = 0;
    if (mosquitto_property_read_int16(properties, MQTT_PROP_RECEIVE_MAXIMUM, &receiveMaximum, false) !=
        nullptr) {
        receiveMaximum_ = receiveMaximum;
    }
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

void MqttClient::OnPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
    static_cast<MqttClient*>(self)->acknowledged_.push_back(Acknowledgement{mid, reason});
}

}  // namespace zendrik::daemon

namespace zendrik::daemon {
namespace {

// Every user property, in order: libmosquitto reads one at a time, from the one after the last.
void ReadUserProperties(const mosquitto_property* properties,
                        std::vector<std::pair<std::string, std::string>>& into) {
    bool first = true;
    for (const mosquitto_property* at = properties;; first = false) {
        char* name = nullptr;
        char* value = nullptr;
        at = mosquitto_property_read_string_pair(at, MQTT_PROP_USER_PROPERTY, &name, &value, !first);
        if (at == nullptr) {
            break;
        }
        into.emplace_back(name != nullptr ? name : "", value != nullptr ? value : "");
        std::free(name);
        std::free(value);
    }
}

}  // namespace

// Correlation Data is binary and may hold anything; the Response Topic is UTF-8.
void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                           const mosquitto_property* properties) {
    IncomingMessage incoming;
    incoming.topic = message->topic;
    incoming.retained = message->retain;
    if (message->payload != nullptr && message->payloadlen > 0) {
        incoming.payload.assign(static_cast<const char*>(message->payload),
                                static_cast<std::size_t>(message->payloadlen));
    }
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false) !=
            nullptr &&
        responseTopic != nullptr) {
        incoming.responseTopic = responseTopic;
    }
    std::free(responseTopic);
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                       false) != nullptr) {
        incoming.correlation = std::string(static_cast<const char*>(correlation), length);
    }
    std::free(correlation);
    ReadUserProperties(properties, incoming.userProperties);
    static_cast<MqttClient*>(self)->messages_.push_back(std::move(incoming));
}

}  // namespace zendrik::daemon
