#include "cli/site_listener.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

namespace zendrik::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kDefaultPort = 1883;
constexpr int kQosAtLeastOnce = 1;
constexpr int kKeepAliveSeconds = 30;
// How long one turn of the network loop waits; between turns the checker's waits are looked at.
constexpr int kLoopTurnMs = 200;
constexpr auto kSyncInterval = std::chrono::seconds(1);
constexpr auto kReconnectPause = std::chrono::seconds(1);
constexpr const char* kScheme = "mqtt://";
constexpr std::size_t kMaxPortDigits = 5;
// Readers' reads and events, zones' events, doors' passages.
constexpr int kSiteTopics = 4;

double SecondsNow() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

struct MosquittoDeleter {
    void operator()(mosquitto* client) const { mosquitto_destroy(client); }
};

// The library's global state, for as long as a listener runs.
struct MosquittoLibrary {
    MosquittoLibrary() { mosquitto_lib_init(); }
    ~MosquittoLibrary() { mosquitto_lib_cleanup(); }
    MosquittoLibrary(const MosquittoLibrary&) = delete;
    MosquittoLibrary& operator=(const MosquittoLibrary&) = delete;
};

class Session {
  public:
    Session(const ListenOptions& options, StreamChecker& checker,
            const std::function<bool(const Json&)>& give)
        : options_(options), checker_(checker), give_(give) {}

    std::optional<std::string> Run(const std::function<bool()>& keepGoing) {
        const std::string clientId =
            options_.clientId.empty() ? "zendrik-listen-" + options_.site : options_.clientId;
        client_.reset(mosquitto_new(clientId.c_str(), /*clean_session=*/false, this));
        if (!client_) {
            return "the MQTT client could not be made";
        }
        mosquitto_connect_callback_set(client_.get(), &Session::OnConnect);
        mosquitto_message_callback_set(client_.get(), &Session::OnMessage);
        mosquitto_subscribe_callback_set(client_.get(), &Session::OnSubscribe);
        if (const int rc =
                mosquitto_connect(client_.get(), options_.host.c_str(), options_.port, kKeepAliveSeconds);
            rc != MOSQ_ERR_SUCCESS) {
            return "cannot reach the broker " + options_.host + ":" + std::to_string(options_.port) + ": " +
                   mosquitto_strerror(rc);
        }
        while (keepGoing() && !stopped_ && !refused_) {
            if (mosquitto_loop(client_.get(), kLoopTurnMs, 1) != MOSQ_ERR_SUCCESS && !refused_) {
                std::this_thread::sleep_for(kReconnectPause);  // the session waits on the broker
                mosquitto_reconnect(client_.get());
            }
            Give(checker_.Tick(SecondsNow()));
            if (unsynced_ && Clock::now() - lastSync_ >= kSyncInterval) {
                SaveState(true);
            }
        }
        mosquitto_disconnect(client_.get());
        SaveState(true);
        return refused_;
    }

  private:
    static void OnConnect(mosquitto* client, void* self, int result) {
        auto& session = *static_cast<Session*>(self);
        if (result != 0) {
            session.refused_ =
                std::string("the broker refused the connection: ") + mosquitto_connack_string(result);
            return;
        }
        const std::string base = session.options_.prefix + "/" + session.options_.site;
        for (const std::string& topic :
             {base + "/+/reads", base + "/+/events", base + "/zones/+/events", base + "/doors/+/passages"}) {
            mosquitto_subscribe(client, nullptr, topic.c_str(), kQosAtLeastOnce);
        }
    }

    // Once the broker has confirmed every subscription it keeps the session's messages, also while
    // the listener is away; the state file is written then, so that a watcher can tell.
    static void OnSubscribe(mosquitto*, void* self, int, int, const int*) {
        auto& session = *static_cast<Session*>(self);
        if (++session.subscriptionsConfirmed_ == kSiteTopics) {
            session.SaveState(true);
        }
    }

    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
        auto& session = *static_cast<Session*>(self);
        const auto* bytes = static_cast<const char*>(message->payload);
        const Json payload =
            Json::parse(bytes, bytes + message->payloadlen, nullptr, /*allow_exceptions=*/false);
        if (payload.is_discarded()) {
            return;  // not an event: nothing numbered to account for
        }
        session.Give(session.checker_.Offer(payload, SecondsNow()));
        session.SaveState(false);
    }

    void Give(const std::vector<Json>& lines) {
        for (const Json& line : lines) {
            if (!give_(line)) {
                stopped_ = true;
            }
        }
    }

    // Replaces the state file by a new one (written beside it, then renamed over it).
    void SaveState(bool durable) {
        if (options_.stateFile.empty()) {
            return;
        }
        const std::string temporary = options_.stateFile + ".new";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << checker_.State().dump() << '\n';
            if (!out.flush()) {
                return;
            }
        }
        if (durable) {
            if (const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
            lastSync_ = Clock::now();
        }
        std::rename(temporary.c_str(), options_.stateFile.c_str());
        unsynced_ = !durable;
    }

    const ListenOptions& options_;
    StreamChecker& checker_;
    const std::function<bool(const Json&)>& give_;
    std::unique_ptr<mosquitto, MosquittoDeleter> client_;
    std::optional<std::string> refused_;
    int subscriptionsConfirmed_ = 0;
    bool stopped_ = false;
    bool unsynced_ = false;
    Clock::time_point lastSync_{};
};

}  // namespace

std::optional<std::pair<std::string, uint16_t>> ParseBrokerUrl(const std::string& url) {
    const std::string scheme = kScheme;
    if (url.rfind(scheme, 0) != 0 || url.size() == scheme.size()) {
        return std::nullopt;
    }
    const std::string rest = url.substr(scheme.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) {
        return std::make_pair(rest, kDefaultPort);
    }
    const std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > kMaxPortDigits ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > UINT16_MAX) {
        return std::nullopt;
    }
    return std::make_pair(host, static_cast<uint16_t>(number));
}

std::optional<std::string> ListenToSite(const ListenOptions& options, StreamChecker& checker,
                                        const std::function<bool(const Json& line)>& give,
                                        const std::function<bool()>& keepGoing) {
    if (!options.stateFile.empty()) {
        std::ifstream in(options.stateFile);
        if (in) {
            const Json state = Json::parse(in, nullptr, /*allow_exceptions=*/false);
            if (state.is_discarded()) {
                return "the state file " + options.stateFile + " is not JSON";
            }
            try {
                checker.Load(state);
            } catch (const std::invalid_argument& error) {
                return "the state file " + options.stateFile + ": " + error.what();
            }
        }
    }
    MosquittoLibrary library;
    Session session(options, checker, give);
    return session.Run(keepGoing);
}

}  // namespace zendrik::cli
