#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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
    // The largest PUBLISH packet sent (the whole packet, as MQTT 5's Maximum Packet Size counts);
    // nothing: the broker's Maximum Packet Size, if it says one. Larger messages are dead letters.
    std::optional<uint32_t> maxMessageBytes;
    // False: MQTT 3.1.1 only, never 5 (the tests use it to speak to the broker as an older one).
    bool mqtt5 = true;

    bool operator==(const MqttConfig&) const = default;
};

struct SpoolConfig {
    std::string path = "/var/lib/zendrik/spool.sqlite";
    uint64_t maxMessages = 1000000;
    uint32_t checkpointIntervalMs = 60000;

    bool operator==(const SpoolConfig&) const = default;
};

// The HTTP server: metrics, health, the REST API, the event stream and the console.
struct HttpConfig {
    std::string listen = "127.0.0.1:8765";  // ADDRESS:PORT; empty: no HTTP at all
    std::optional<std::string> token;     // Bearer token for everything but /healthz and the console's files
    std::optional<std::string> certFile;  // both set: HTTPS
    std::optional<std::string> keyFile;
    std::string consoleDir;  // the console's files: the installed folder, then as the daemon finds them
    std::vector<std::string> consoleLooked;  // the folders the daemon looked in, for the page without one

    bool operator==(const HttpConfig&) const = default;
};

// What [control] allows over the command channels (MQTT and HTTP).
enum class CommandPolicy { kOff, kReadOnly, kAll };

// The words of a policy, as the file and the HTTP side write it: "off", "read-only", "all".
const char* CommandPolicyWords(CommandPolicy policy);

struct ControlConfig {
    CommandPolicy commands = CommandPolicy::kOff;

    bool operator==(const ControlConfig&) const = default;
};

// One setting of [reader.settings]: its name and value as `zendrik set` takes them ("power", "26").
struct DeclaredSetting {
    std::string name;
    std::string value;

    std::string Assignment() const { return name + "=" + value; }
    bool operator==(const DeclaredSetting&) const = default;
};

// Bits of ReaderConfig::publish, one per kind of event that may be left out.
enum PublishKind : uint32_t {
    kPublishRead = 1u << 0,
    kPublishArrived = 1u << 1,
    kPublishDeparted = 1u << 2,
    kPublishLinkLost = 1u << 3,
    kPublishLinkRestored = 1u << 4,  // also the link-up that begins a stream
    kPublishAll = (1u << 5) - 1,
};

struct ReaderConfig {
    std::string name;
    std::string address;
    uint32_t absenceMs = 3000;
    int line = 0;  // where the [[reader]] table starts, for later messages about it
    // The desired settings: managed when the file has a [reader.settings] table (even an empty one).
    bool settingsManaged = false;
    std::vector<DeclaredSetting> settings{};  // in the file's order
    uint32_t settingsCheckS = 300;            // 0: compared on connecting only
    bool settingsEnforce = true;              // false: differences are reported, never written
    // What is published: the kinds (PublishKind bits), at most one read per EPC in this time
    // (0: every read), and the EPC prefixes as lower-case hex.
    uint32_t publish = kPublishAll;
    uint32_t readIntervalMs = 0;
    std::vector<std::string> epcInclude{};  // empty: every tag
    std::vector<std::string> epcExclude{};

    bool operator==(const ReaderConfig&) const = default;
};

// One [[output]] of kind "webhook": batches of events POSTed as a JSON array to a URL.
struct WebhookConfig {
    std::string name;
    std::string url;
    std::vector<std::string> events{};  // the event kinds it takes ("read", "arrived", ...); empty: all
    uint32_t batchMs = 1000;            // how long the first event of a batch waits for others
    uint32_t batchMax = 500;            // events in one body at most
    uint32_t timeoutS = 10;             // one request, connecting included
    std::vector<std::pair<std::string, std::string>> headers{};  // sent with every request
    std::optional<std::string> secretFile;  // its bytes key the HMAC-SHA256 signature of each body
    std::optional<std::string> caFile;      // the server's certificate checked against it
    std::optional<std::string> certFile;    // a client certificate, with its key
    std::optional<std::string> keyFile;
    int line = 0;  // where its [[output]] table starts

    bool operator==(const WebhookConfig&) const = default;
};

struct DaemonConfig {
    std::string site;
    uint32_t statusIntervalMs = 30000;
    // False only for a file with [[output]] tables and no [mqtt] table: a site that sends its events
    // to webhooks alone (commands then come over HTTP only).
    bool mqttEnabled = true;
    MqttConfig mqtt;
    SpoolConfig spool;
    HttpConfig http;
    ControlConfig control;
    std::vector<ReaderConfig> readers;
    std::vector<WebhookConfig> webhooks;
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
// unknown key, a value of the wrong type or range, a name or topic prefix that the broker would
// refuse as a topic level, a reader address that does not parse, two readers with one name, one
// address or one device. Nothing is returned half-read.
DaemonConfig ParseConfig(std::string_view text, const AddressCheck& checkAddress);

// The largest configuration file read; anything larger is no configuration.
inline constexpr std::size_t kConfigFileMaxBytes = std::size_t{1} << 20;

// Reads the file at `path` (ConfigError with line 0 when it cannot be read, is no regular file or
// is larger than kConfigFileMaxBytes).
DaemonConfig LoadConfig(const std::string& path, const AddressCheck& checkAddress);

// "PATH:LINE: reason", or "PATH: reason" for a fault of the whole file.
std::string DescribeConfigError(const std::string& path, const ConfigError& error);

// What is worth a warning about a file that was read: a password in it that others may read.
std::vector<std::string> ConfigFileWarnings(const std::string& path, const DaemonConfig& config);

// Why the spool could not be created where the configuration puts it (its directory missing, no
// directory, not writable); nothing when it can.
std::optional<std::string> SpoolDirectoryProblem(const SpoolConfig& spool);

// Why a file an [[output]] names cannot be used (the secret, the CA, the client certificate or
// its key missing or unreadable, an empty secret): "line N: reason" for the first such file, or
// nothing when all of them can be read.
std::optional<ConfigError> OutputFileProblem(const DaemonConfig& config);

// The device a reader address names, so that two addresses of one reader are found: the real
// path of a usb: or serial: node (through udev links), the host and port of a udp: reader
// without its local end, the address itself otherwise.
std::string DeviceOfAddress(const std::string& address);

}  // namespace zendrik::daemon
