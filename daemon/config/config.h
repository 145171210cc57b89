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
    // A client certificate and its key, for a broker that requires one (TLS, against caFile or
    // the system's certificate authorities).
    std::optional<std::string> certFile;
    std::optional<std::string> keyFile;
    // The password read from this file (its first line) when the configuration is loaded.
    std::optional<std::string> passwordFile;
    int keyFileLine = 0;  // where key_file and password_file are, for the check of their modes
    int passwordFileLine = 0;
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
    // A message no output took in this time is dropped (counted); nothing: kept until taken.
    std::optional<uint64_t> maxAgeS{};
    // The messages of the spool sent a second at most (a backlog after an outage is paced to
    // it); nothing: no limit.
    std::optional<uint32_t> replayRate{};

    bool operator==(const SpoolConfig&) const = default;
};

// What a token of [[http.token]] lets its holder do over HTTP; each role may do what the one
// before it may, and more.
enum class AccessRole {
    kViewer,    // every GET: statuses, settings, metrics, events, the audit trail
    kOperator,  // also starting and stopping the inventory, and writing settings
    kAdmin,     // also the factory default and reloading the configuration
};

// "viewer", "operator", "admin".
const char* AccessRoleWords(AccessRole role);

// One [[http.token]]: who holds it (the actor of the audit trail), the file that holds it, and
// what it may do. The secret is read from the file by LoadConfig, never logged and never shown.
struct HttpToken {
    std::string name;
    std::string file;
    AccessRole role = AccessRole::kViewer;
    int line = 0;  // where its table starts
    std::string secret;

    bool operator==(const HttpToken&) const = default;
};

// The name the single [http] token has as a token of its own (an admin).
inline constexpr const char* kSingleTokenName = "token";

// How the reads of a reader go out: one message each (batchMs 0), or gathered into one message
// per batchMs or per batchMax reads, whichever comes first.
struct PublishConfig {
    uint32_t batchMs = 0;
    uint32_t batchMax = 500;

    bool operator==(const PublishConfig&) const = default;
};

// The HTTP server: metrics, health, the REST API, the event stream and the console.
struct HttpConfig {
    std::string listen = "127.0.0.1:8765";  // ADDRESS:PORT; empty: no HTTP at all
    std::optional<std::string> token;     // Bearer token for everything but /healthz and the console's files
    std::vector<HttpToken> tokens;        // [[http.token]], instead of the single token
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
    std::string profile{};  // the [[profile]] the value comes from; empty: the reader's own table

    std::string Assignment() const { return name + "=" + value; }
    // Where the value comes from, as the payloads say it: "profile" or "reader".
    const char* Source() const { return profile.empty() ? "reader" : "profile"; }
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

// A [[profile]]: settings that many readers share, each naming it with `profile = "NAME"`.
struct ProfileConfig {
    std::string name;
    int line = 0;                             // where the [[profile]] table starts
    bool hasSettings = false;                 // it has a [profile.settings] table (even an empty one)
    std::vector<DeclaredSetting> settings{};  // in the file's order

    bool operator==(const ProfileConfig&) const = default;
};

// The names of the kinds in `bits` (PublishKind), as `publish` lists them, in the file's order.
std::vector<std::string> PublishKindNames(uint32_t bits);

struct ReaderConfig {
    std::string name;
    std::string address;
    uint32_t absenceMs = 3000;
    int line = 0;           // where the [[reader]] table starts, for later messages about it
    std::string profile{};  // the [[profile]] it takes settings from; empty: none
    // The desired settings: managed when the file has a [reader.settings] table or its profile a
    // [profile.settings] table (even an empty one). The profile's values with the reader's own
    // over them key by key: the profile's keys in its order, then the reader's others in theirs.
    bool settingsManaged = false;
    std::vector<DeclaredSetting> settings{};
    uint32_t settingsCheckS = 300;  // 0: compared on connecting only
    bool settingsEnforce = true;    // false: differences are reported, never written
    // What is published: the kinds (PublishKind bits), at most one read per EPC in this time
    // (0: every read), and the EPC prefixes as lower-case hex.
    uint32_t publish = kPublishAll;
    uint32_t readIntervalMs = 0;
    std::vector<std::string> epcInclude{};  // empty: every tag
    std::vector<std::string> epcExclude{};

    bool operator==(const ReaderConfig&) const = default;
};

// [audit]: the trail of every command and every write of the settings.
struct AuditConfig {
    uint32_t keepDays = 365;  // entries older than this are deleted
    std::string path;         // empty: beside the spool, its path with ".audit"

    bool operator==(const AuditConfig&) const = default;
};

// The name the audit trail's messages have in the spool, as a reader's have theirs: no reader may
// be named so.
inline constexpr const char* kAuditStream = "audit";

// Where the audit trail is kept: [audit] path, or beside the spool.
std::string AuditPath(const AuditConfig& audit, const SpoolConfig& spool);

// A zone: the readers whose field is one place (a dock, a room). A tag read by any of them is
// in the zone until none of them has read it for absenceMs.
struct ZoneConfig {
    std::string name;
    std::vector<std::string> readers;
    uint32_t absenceMs = 3000;
    int line = 0;  // where the [[zone]] table starts

    bool operator==(const ZoneConfig&) const = default;
};

// A door: readers on its outer and its inner side. A pass of a tag through them ends when none
// of them has read it for settleMs.
struct DoorConfig {
    std::string name;
    std::vector<std::string> outside;
    std::vector<std::string> inside;
    uint32_t settleMs = 2000;
    int line = 0;  // where the [[door]] table starts

    bool operator==(const DoorConfig&) const = default;
};

// [history]: the zones' visits and the doors' passages, in history.sqlite beside the spool.
struct HistoryConfig {
    uint32_t keepDays = 30;
    uint32_t maxMb = 512;

    bool operator==(const HistoryConfig&) const = default;
};

// history.sqlite in the spool's directory.
std::string HistoryPath(const SpoolConfig& spool);

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
    PublishConfig publish;
    SpoolConfig spool;
    HttpConfig http;
    ControlConfig control;
    std::vector<ProfileConfig> profiles;
    std::vector<ReaderConfig> readers;
    AuditConfig audit;
    std::vector<ZoneConfig> zones;
    std::vector<DoorConfig> doors;
    HistoryConfig history;
    std::vector<WebhookConfig> webhooks;
};

// "7d", "12h", "30m", "45s": a time of the configuration in seconds; nothing when the text is
// none of these (digits and one unit).
std::optional<uint64_t> ParseDurationText(std::string_view text);

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
// address or one device, a zone or door that names an unknown reader, a reader in two zones or on
// both sides of one door, a door with an empty side, two zones or two doors of one name, a reader
// named like the site's own topic levels ("zones", "doors"). Nothing is returned half-read.
DaemonConfig ParseConfig(std::string_view text, const AddressCheck& checkAddress);

// The largest configuration file read; anything larger is no configuration.
inline constexpr std::size_t kConfigFileMaxBytes = std::size_t{1} << 20;

// Reads the file at `path` (ConfigError with line 0 when it cannot be read, is no regular file or
// is larger than kConfigFileMaxBytes), then the files of secrets it names: [mqtt] key_file and
// password_file refused, with their line, when every user may read them; the password read.
DaemonConfig LoadConfig(const std::string& path, const AddressCheck& checkAddress);

// Reads the secret of each [[http.token]] from its file. Throws ConfigError with the token's line
// when a file cannot be read, is no regular file, may be read or written by anyone but its owner
// (unless it is in the service's systemd credentials folder, $CREDENTIALS_DIRECTORY),
// holds no token of visible ASCII (at least kTokenMinBytes of it), or holds the secret of another.
void ReadTokenFiles(HttpConfig& http);

inline constexpr std::size_t kTokenMinBytes = 16;
inline constexpr std::size_t kTokenMaxBytes = 4096;

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
