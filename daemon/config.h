#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik::daemon {

inline constexpr const char* kDefaultConfigPath = "/etc/zendrik/zendrikd.toml";

struct MqttConfig {
    std::string host = "127.0.0.1";
    uint16_t port = 1883;
    std::string topicPrefix = "zendrik";
    std::string clientId;  // empty: "zendrikd-" and the site
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::optional<std::string> caFile;  // set: TLS, the broker's certificate checked against it
    uint32_t keepaliveSeconds = 30;
    uint32_t reconnectMinMs = 100;
    uint32_t reconnectMaxMs = 5000;
};

struct SpoolConfig {
    std::string path = "/var/lib/zendrik/spool.sqlite";
    uint64_t maxMessages = 1000000;
    uint32_t checkpointIntervalMs = 60000;
};

// The HTTP server: metrics, health, the REST API, the event stream and the console.
struct HttpConfig {
    std::string listen = "127.0.0.1:8765";  // ADDRESS:PORT; empty: no HTTP at all
    std::optional<std::string> token;     // Bearer token for everything but /healthz and the console's files
    std::optional<std::string> certFile;  // both set: HTTPS
    std::optional<std::string> keyFile;
    std::string consoleDir;  // the console's files; the installed folder unless the command line names one
};

struct ReaderConfig {
    std::string name;
    std::string address;
    uint32_t absenceMs = 3000;
    int line = 0;  // where the [[reader]] table starts, for later messages about it
};

struct DaemonConfig {
    std::string site;
    uint32_t statusIntervalMs = 30000;
    MqttConfig mqtt;
    SpoolConfig spool;
    HttpConfig http;
    std::vector<ReaderConfig> readers;
};

// A configuration refused: the line it was found on (0 when it concerns the whole file) and why.
class ConfigError : public std::runtime_error {
  public:
    ConfigError(int line, const std::string& reason);
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }

  private:
    int line_;
    std::string reason_;
};

// Checks a reader address: empty when it parses, otherwise the reason. The daemon passes the
// library's own check, so that what the file accepts is exactly what a reader handle accepts.
using AddressCheck = std::function<std::optional<std::string>(const std::string& address)>;

// Reads a whole configuration text. Throws ConfigError on the first fault: TOML syntax, an
// unknown key, a value of the wrong type or range, a reader address that does not parse, two
// readers with one name or one address. Nothing is returned half-read.
DaemonConfig ParseConfig(std::string_view text, const AddressCheck& checkAddress);

// Reads the file at `path` (ConfigError with line 0 when it cannot be read).
DaemonConfig LoadConfig(const std::string& path, const AddressCheck& checkAddress);

}  // namespace zendrik::daemon
