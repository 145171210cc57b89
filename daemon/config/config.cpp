#include "daemon/config/config.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <variant>

#include "daemon/common/event_kinds.h"
#include "daemon/config/listen_address.h"
#include "rules/reader_codes.h"
#include "rules/settings_table.h"

namespace zendrik::daemon {
namespace {

// Limits that keep names usable as one MQTT topic level and as a session's reader id.
constexpr std::size_t kNameMaxBytes = 63;
constexpr int64_t kPortMax = 65535;
constexpr int64_t kKeepaliveMinSeconds = 5;  // the MQTT client refuses shorter keep-alives
constexpr int64_t kKeepaliveMaxSeconds = 65535;
constexpr int64_t kMillisecondsMax = std::numeric_limits<uint32_t>::max();
// A message limit leaves room for a status (a topic and some 250 bytes of JSON) at the least; MQTT
// carries no packet larger than a remaining length of 268 435 455 with five bytes of header.
constexpr int64_t kMessageMinBytes = 128;
constexpr int64_t kMessageMaxBytes = 268435460;
constexpr int64_t kStatusIntervalMinMs = 100;
constexpr std::size_t kTopicMaxBytes = 65535;
constexpr std::size_t kPasswordMaxBytes = 65535;  // an MQTT password is at most that long
constexpr int64_t kSettingsCheckMaxSeconds = 7 * 24 * 3600;
// An EPC prefix is at most the EPC an event holds, as hex digits.
constexpr std::size_t kEpcPrefixMaxDigits = 2 * 64;
constexpr std::size_t kEpcPrefixListMax = 256;
// Topic levels of the site that are not readers: PREFIX/SITE/zones/ZONE/events and
// PREFIX/SITE/doors/DOOR/passages.
constexpr const char* kSiteLevels[] = {"zones", "doors"};
constexpr int64_t kHistoryDaysMax = 3650;
constexpr int64_t kHistoryMbMax = 1024 * 1024;
// A batch of reads waits at most a minute, and holds at most what a 256 KiB message carries of
// the shortest reads.
constexpr int64_t kBatchWaitMaxMs = 60000;
constexpr int64_t kBatchReadsMax = 10000;
// A spool keeps what no output took for a minute at least and ten years at most.
constexpr uint64_t kMaxAgeMinSeconds = 60;
constexpr uint64_t kMaxAgeMaxSeconds = 10ull * 366 * 24 * 3600;
constexpr int64_t kReplayRateMax = 1000000;

struct DurationUnit {
    char unit;
    uint64_t seconds;
};
constexpr DurationUnit kDurationUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 24 * 3600}};

struct PublishName {
    const char* name;
    uint32_t bit;
};
constexpr PublishName kPublishNames[] = {
    {"read", kPublishRead},
    {"arrived", kPublishArrived},
    {"departed", kPublishDeparted},
    {"link-lost", kPublishLinkLost},
    {"link-restored", kPublishLinkRestored},
};

struct PolicyName {
    const char* name;
    CommandPolicy policy;
};
constexpr PolicyName kPolicyNames[] = {
    {"off", CommandPolicy::kOff},
    {"read-only", CommandPolicy::kReadOnly},
    {"all", CommandPolicy::kAll},
};

struct RoleName {
    const char* name;
    AccessRole role;
};
constexpr RoleName kRoleNames[] = {
    {"viewer", AccessRole::kViewer},
    {"operator", AccessRole::kOperator},
    {"admin", AccessRole::kAdmin},
};

constexpr int64_t kAuditKeepDaysMax = 36500;
// Permission bits of anyone but a file's owner.
constexpr mode_t kGroupAndOthers = S_IRWXG | S_IRWXO;

int LineOf(const toml::source_region& region) {
    return static_cast<int>(region.begin.line);
}

// Reads one table: every key it holds must be one the reader asks for, so a misspelt key is a
// refusal instead of a default silently taken.
class TableReader {
  public:
    TableReader(const toml::table& table, std::string where, std::set<std::string> known)
        : table_(table), where_(std::move(where)) {
        for (auto&& [key, value] : table_) {
            if (known.count(std::string(key.str())) == 0) {
                throw ConfigError(LineOf(key.source()),
                                  "unknown key \"" + std::string(key.str()) + "\"" + In());
            }
        }
    }

    // Where the table starts; 0 for the file's top level, which has no header line.
    int line() const { return where_.empty() ? 0 : LineOf(table_.source()); }

    const toml::node* Find(const char* key) const { return table_.get(key); }

    std::optional<std::string> Text(const char* key) const {
        const toml::node* node = Find(key);
        if (node == nullptr) {
            return std::nullopt;
        }
        if (!node->is_string()) {
            throw ConfigError(LineOf(node->source()), Name(key) + " must be a text");
        }
        return node->as_string()->get();
    }

    std::string RequiredText(const char* key) const {
        std::optional<std::string> value = Text(key);
        if (!value) {
            throw ConfigError(line(), Name(key) + " is missing");
        }
        return *value;
    }

    std::optional<int64_t> Integer(const char* key, int64_t low, int64_t high) const {
        const toml::node* node = Find(key);
        if (node == nullptr) {
            return std::nullopt;
        }
        if (!node->is_integer()) {
            throw ConfigError(LineOf(node->source()), Name(key) + " must be an integer");
        }
        const int64_t value = node->as_integer()->get();
        if (value < low || value > high) {
            std::ostringstream reason;
            reason << Name(key) << " must be from " << low << " to " << high << ", not " << value;
            throw ConfigError(LineOf(node->source()), reason.str());
        }
        return value;
    }

    std::optional<bool> Boolean(const char* key) const {
        const toml::node* node = Find(key);
        if (node == nullptr) {
            return std::nullopt;
        }
        if (!node->is_boolean()) {
            throw ConfigError(LineOf(node->source()), Name(key) + " must be true or false");
        }
        return node->as_boolean()->get();
    }

    // A list of texts, each with its line.
    std::optional<std::vector<std::pair<std::string, int>>> Texts(const char* key) const {
        const toml::node* node = Find(key);
        if (node == nullptr) {
            return std::nullopt;
        }
        const toml::array* list = node->as_array();
        if (list == nullptr) {
            throw ConfigError(LineOf(node->source()), Name(key) + " must be a list of texts");
        }
        std::vector<std::pair<std::string, int>> texts;
        for (const toml::node& entry : *list) {
            if (!entry.is_string()) {
                throw ConfigError(LineOf(entry.source()), Name(key) + " must be a list of texts");
            }
            texts.emplace_back(entry.as_string()->get(), LineOf(entry.source()));
        }
        return texts;
    }

    int LineOfKey(const char* key) const {
        const toml::node* node = Find(key);
        return node != nullptr ? LineOf(node->source()) : line();
    }

    // Appended rather than `"\"" + std::string(key)`, whose insert at the front draws a false
    // -Wrestrict from GCC 12 at -O3.
    std::string Name(const char* key) const {
        return std::string("\"").append(key).append("\"").append(In());
    }

  private:
    std::string In() const { return where_.empty() ? "" : " in " + where_; }

    const toml::table& table_;
    std::string where_;
};

template <typename T>
void Assign(T& target, const std::optional<int64_t>& value) {
    if (value) {
        target = static_cast<T>(*value);
    }
}

void Assign(std::string& target, const std::optional<std::string>& value) {
    if (value) {
        target = *value;
    }
}

// What the broker takes in a topic: UTF-8 without U+0000, control characters (U+0001..U+001F,
// U+007F..U+009F) or non-characters (U+FFFE and the like), and no leading '$' (topics starting
// with it are the broker's own). Empty when fine, otherwise why not.
std::optional<std::string> TopicTextProblem(const std::string& value) {
    if (value.size() > kTopicMaxBytes) {
        return "is longer than an MQTT topic may be (65535 bytes)";
    }
    if (mosquitto_validate_utf8(value.data(), static_cast<int>(value.size())) != MOSQ_ERR_SUCCESS) {
        return "must be valid UTF-8 without control characters or non-characters such as U+0085 or "
               "U+FFFE (the broker refuses them)";
    }
    if (!value.empty() && value.front() == '$') {
        return "must not start with '$' (the broker keeps such topics to itself)";
    }
    return std::nullopt;
}

// A name that becomes one topic level: no level separator, no wildcard, nothing unprintable.
void CheckLevelName(const TableReader& table, const char* key, const std::string& value) {
    const int line = table.LineOfKey(key);
    if (value.empty()) {
        throw ConfigError(line, table.Name(key) + " is empty");
    }
    if (value.size() > kNameMaxBytes) {
        throw ConfigError(line, table.Name(key) + " is longer than 63 bytes");
    }
    for (const char c : value) {
        if (c == '/' || c == '+' || c == '#') {
            throw ConfigError(line, table.Name(key) + " must not contain '/', '+' or '#'");
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            throw ConfigError(line, table.Name(key) + " must not contain control characters");
        }
    }
    if (const auto problem = TopicTextProblem(value)) {
        throw ConfigError(line, table.Name(key) + " " + *problem);
    }
}

void CheckTopicPrefix(const TableReader& table, const std::string& prefix) {
    const int line = table.LineOfKey("topic_prefix");
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') {
        throw ConfigError(line,
                          table.Name("topic_prefix") + " must be a topic without leading or trailing '/'");
    }
    for (const char c : prefix) {
        if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) {
            throw ConfigError(
                line, table.Name("topic_prefix") + " must not contain '+', '#' or control characters");
        }
    }
    if (const auto problem = TopicTextProblem(prefix)) {
        throw ConfigError(line, table.Name("topic_prefix") + " " + *problem);
    }
}

// Every topic the daemon publishes to is checked as the client library will check it, so that a
// long prefix is refused here and not by the first publish.
void CheckTopics(const DaemonConfig& config) {
    for (const ReaderConfig& reader : config.readers) {
        const std::string longest =
            config.mqtt.topicPrefix + "/" + config.site + "/" + reader.name + "/status";
        if (mosquitto_pub_topic_check2(longest.data(), longest.size()) != MOSQ_ERR_SUCCESS) {
            throw ConfigError(reader.line,
                              "topic \"" + longest.substr(0, 80) + "...\" is longer than MQTT allows");
        }
    }
    const auto checkPlace = [&](const std::string& level, int line) {
        const std::string topic = config.mqtt.topicPrefix + "/" + config.site + "/" + level;
        if (mosquitto_pub_topic_check2(topic.data(), topic.size()) != MOSQ_ERR_SUCCESS) {
            throw ConfigError(line, "topic \"" + topic.substr(0, 80) + "...\" is longer than MQTT allows");
        }
    };
    for (const ZoneConfig& zone : config.zones) {
        checkPlace("zones/" + zone.name + "/events", zone.line);
    }
    for (const DoorConfig& door : config.doors) {
        checkPlace("doors/" + door.name + "/passages", door.line);
    }
}

const toml::table* SubTable(const toml::table& root, const char* key) {
    const toml::node* node = root.get(key);
    if (node == nullptr) {
        return nullptr;
    }
    if (!node->is_table()) {
        throw ConfigError(LineOf(node->source()),
                          "\"" + std::string(key) + "\" must be a table ([" + key + "])");
    }
    return node->as_table();
}

// A certificate and its key, `cert_file` and `key_file`: both or neither.
void ReadCertificate(const TableReader& reader, std::optional<std::string>& certFile,
                     std::optional<std::string>& keyFile) {
    certFile = reader.Text("cert_file");
    keyFile = reader.Text("key_file");
    if (certFile.has_value() != keyFile.has_value()) {
        const char* given = certFile ? "cert_file" : "key_file";
        throw ConfigError(reader.LineOfKey(given),
                          reader.Name(given) + " needs the other of \"cert_file\" and \"key_file\"");
    }
}

MqttConfig ReadMqtt(const toml::table* table, const std::string& site) {
    MqttConfig mqtt;
    mqtt.clientId = "zendrikd-" + site;
    if (table == nullptr) {
        return mqtt;
    }
    const TableReader reader(*table, "[mqtt]",
                             {"host", "port", "topic_prefix", "client_id", "username", "password",
                              "password_file", "ca_file", "cert_file", "key_file", "keepalive_s",
                              "reconnect_min_ms", "reconnect_max_ms", "max_message_bytes"});
    Assign(mqtt.host, reader.Text("host"));
    if (mqtt.host.empty()) {
        throw ConfigError(reader.LineOfKey("host"), reader.Name("host") + " is empty");
    }
    Assign(mqtt.port, reader.Integer("port", 1, kPortMax));
    Assign(mqtt.topicPrefix, reader.Text("topic_prefix"));
    CheckTopicPrefix(reader, mqtt.topicPrefix);
    Assign(mqtt.clientId, reader.Text("client_id"));
    if (mqtt.clientId.empty()) {
        throw ConfigError(reader.LineOfKey("client_id"), reader.Name("client_id") + " is empty");
    }
    mqtt.username = reader.Text("username");
    mqtt.password = reader.Text("password");
    mqtt.passwordFile = reader.Text("password_file");
    mqtt.passwordFileLine = reader.LineOfKey("password_file");
    if (mqtt.password && mqtt.passwordFile) {
        throw ConfigError(mqtt.passwordFileLine,
                          reader.Name("password_file") + " and \"password\" are both given; give one");
    }
    for (const char* key : {"password", "password_file"}) {
        if (reader.Find(key) != nullptr && !mqtt.username) {
            throw ConfigError(reader.LineOfKey(key), reader.Name(key) + " needs a \"username\"");
        }
    }
    mqtt.caFile = reader.Text("ca_file");
    ReadCertificate(reader, mqtt.certFile, mqtt.keyFile);
    mqtt.keyFileLine = reader.LineOfKey("key_file");
    Assign(mqtt.keepaliveSeconds, reader.Integer("keepalive_s", kKeepaliveMinSeconds, kKeepaliveMaxSeconds));
    Assign(mqtt.reconnectMinMs, reader.Integer("reconnect_min_ms", 1, kMillisecondsMax));
    Assign(mqtt.reconnectMaxMs, reader.Integer("reconnect_max_ms", 1, kMillisecondsMax));
    if (const auto bytes = reader.Integer("max_message_bytes", kMessageMinBytes, kMessageMaxBytes)) {
        mqtt.maxMessageBytes = static_cast<uint32_t>(*bytes);
    }
    if (mqtt.reconnectMaxMs < mqtt.reconnectMinMs) {
        throw ConfigError(reader.LineOfKey("reconnect_max_ms"),
                          reader.Name("reconnect_max_ms") + " is below \"reconnect_min_ms\"");
    }
    return mqtt;
}

PublishConfig ReadPublishTable(const toml::table* table) {
    PublishConfig publish;
    if (table == nullptr) {
        return publish;
    }
    const TableReader reader(*table, "[publish]", {"batch_ms", "batch_max"});
    Assign(publish.batchMs, reader.Integer("batch_ms", 0, kBatchWaitMaxMs));
    Assign(publish.batchMax, reader.Integer("batch_max", 1, kBatchReadsMax));
    return publish;
}

std::optional<uint64_t> ReadMaxAge(const TableReader& reader) {
    const std::optional<std::string> text = reader.Text("max_age");
    if (!text) {
        return std::nullopt;
    }
    const std::optional<uint64_t> seconds = ParseDurationText(*text);
    if (!seconds || *seconds < kMaxAgeMinSeconds || *seconds > kMaxAgeMaxSeconds) {
        throw ConfigError(reader.LineOfKey("max_age"),
                          reader.Name("max_age") + " must be a time such as \"7d\", \"12h\" or \"30m\" " +
                              "(units s, m, h, d), from one minute to ten years, not \"" + *text + "\"");
    }
    return seconds;
}

SpoolConfig ReadSpool(const toml::table* table) {
    SpoolConfig spool;
    if (table == nullptr) {
        return spool;
    }
    const TableReader reader(*table, "[spool]",
                             {"path", "max_messages", "checkpoint_interval_ms", "max_age", "replay_rate"});
    Assign(spool.path, reader.Text("path"));
    if (spool.path.empty()) {
        throw ConfigError(reader.LineOfKey("path"), reader.Name("path") + " is empty");
    }
    Assign(spool.maxMessages, reader.Integer("max_messages", 1, std::numeric_limits<int64_t>::max()));
    Assign(spool.checkpointIntervalMs, reader.Integer("checkpoint_interval_ms", 1, kMillisecondsMax));
    spool.maxAgeS = ReadMaxAge(reader);
    if (const auto rate = reader.Integer("replay_rate", 1, kReplayRateMax)) {
        spool.replayRate = static_cast<uint32_t>(*rate);
    }
    return spool;
}

// A token goes into an Authorization header and a query string: visible ASCII without spaces.
bool IsTokenText(const std::string& token) {
    return !token.empty() &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// The listen address must parse, and one outside this host needs a token.
void CheckListen(const TableReader& reader, const HttpConfig& http) {
    const auto parsed = ParseListenAddress(http.listen);
    const int line = reader.LineOfKey("listen");
    if (const auto* why = std::get_if<std::string>(&parsed)) {
        throw ConfigError(line, reader.Name("listen") + " " + *why);
    }
    const ListenAddress& address = std::get<ListenAddress>(parsed);
    if (address.port == 0) {
        throw ConfigError(line, reader.Name("listen") + " needs a port from 1 to 65535");
    }
    if (!address.loopback && !http.token && http.tokens.empty()) {
        throw ConfigError(line, reader.Name("listen") + " is \"" + http.listen +
                                    "\", outside this host, and needs a \"token\" (anyone on the network "
                                    "could otherwise send commands to the readers)");
    }
}

AccessRole ReadRole(const TableReader& reader) {
    const std::string role = reader.RequiredText("role");
    const auto known = std::find_if(std::begin(kRoleNames), std::end(kRoleNames),
                                    [&](const RoleName& entry) { return role == entry.name; });
    if (known == std::end(kRoleNames)) {
        throw ConfigError(reader.LineOfKey("role"), reader.Name("role") + " is \"" + role +
                                                        "\"; it takes \"viewer\", \"operator\" or \"admin\"");
    }
    return known->role;
}

// [[http.token]]: each with a name of its own (the single [http] token is named "token").
std::vector<HttpToken> ReadTokens(const toml::array& list) {
    std::vector<HttpToken> tokens;
    std::map<std::string, int> lineOfName;
    for (const toml::node& entry : list) {
        const TableReader reader(*entry.as_table(), "[[http.token]]", {"name", "file", "role"});
        HttpToken token;
        token.line = reader.line();
        token.name = reader.RequiredText("name");
        CheckLevelName(reader, "name", token.name);
        token.file = reader.RequiredText("file");
        if (token.file.empty()) {
            throw ConfigError(reader.LineOfKey("file"), reader.Name("file") + " is empty");
        }
        token.role = ReadRole(reader);
        if (const auto seen = lineOfName.find(token.name); seen != lineOfName.end()) {
            throw ConfigError(token.line, "a second token named \"" + token.name +
                                              "\" (the first is on line " + std::to_string(seen->second) +
                                              ")");
        }
        lineOfName.emplace(token.name, token.line);
        tokens.push_back(std::move(token));
    }
    return tokens;
}

HttpConfig ReadHttp(const toml::table* table) {
    HttpConfig http;
    http.consoleDir = ZENDRIK_CONSOLE_DIR;
    if (table == nullptr) {
        return http;
    }
    const TableReader reader(*table, "[http]", {"listen", "token", "cert_file", "key_file"});
    Assign(http.listen, reader.Text("listen"));
    const toml::node* tokenNode = reader.Find("token");
    if (tokenNode != nullptr && tokenNode->is_array()) {
        if (!tokenNode->as_array()->is_array_of_tables()) {
            throw ConfigError(LineOf(tokenNode->source()),
                              reader.Name("token") + " must be a text or a list of tables ([[http.token]])");
        }
        http.tokens = ReadTokens(*tokenNode->as_array());
    } else {
        http.token = reader.Text("token");
    }
    if (http.token && !IsTokenText(*http.token)) {
        throw ConfigError(reader.LineOfKey("token"),
                          reader.Name("token") + " must be visible ASCII characters without spaces");
    }
    http.certFile = reader.Text("cert_file");
    http.keyFile = reader.Text("key_file");
    if (http.certFile.has_value() != http.keyFile.has_value()) {
        const char* given = http.certFile ? "cert_file" : "key_file";
        throw ConfigError(reader.LineOfKey(given),
                          reader.Name(given) + " needs the other of \"cert_file\" and \"key_file\"");
    }
    if (!http.listen.empty()) {
        CheckListen(reader, http);
    }
    return http;
}

// Whether a reader of some kind takes the assignments, as `zendrik set` would check them; the
// words of `zendrik set` for the first kind when none does. The kind is not known before the
// reader answers: a value outside that kind's range is refused when the daemon compares.
std::string SettingsProblem(const std::vector<std::string>& assignments) {
    std::string first;
    for (const uint8_t kind : {rules::kReaderKind0, rules::kReaderKind1, rules::kChannelReaderKind}) {
        rules::ChangePlan plan;
        const std::string error = rules::PlanChanges(assignments, kind, rules::ReaderSettings{}, plan);
        if (error.empty()) {
            return {};
        }
        if (first.empty()) {
            first = error;
        }
    }
    return first;
}

// The settings as "NAME=VALUE", in their order.
std::vector<std::string> AssignmentsOf(const std::vector<DeclaredSetting>& settings) {
    std::vector<std::string> assignments;
    for (const DeclaredSetting& setting : settings) {
        assignments.push_back(setting.Assignment());
    }
    return assignments;
}

// [reader.settings] or [profile.settings]: names and values as `zendrik set` takes them, each
// checked on its own line and then together (the output bytes against the EPC window). `where`
// begins each refusal ("reader \"door-3\": [reader.settings]: ").
std::vector<DeclaredSetting> ReadDeclaredSettings(const toml::table& table, const std::string& where) {
    std::vector<DeclaredSetting> declared;
    // The table is kept sorted by name; the settings are read in the file's order.
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [key, value] : table) {
        entries.emplace_back(&key, &value);
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return LineOf(a.first->source()) < LineOf(b.first->source());
    });
    for (const auto& [keyOf, valueOf] : entries) {
        const toml::key& key = *keyOf;
        const toml::node& value = *valueOf;
        DeclaredSetting setting{std::string(key.str()), {}};
        if (value.is_string()) {
            setting.value = value.as_string()->get();
        } else if (value.is_integer()) {
            setting.value = std::to_string(value.as_integer()->get());
        } else {
            throw ConfigError(LineOf(key.source()),
                              where + "\"" + setting.name + "\" must be a text or an integer");
        }
        if (const std::string error = SettingsProblem({setting.Assignment()}); !error.empty()) {
            throw ConfigError(LineOf(key.source()), where + error);
        }
        declared.push_back(std::move(setting));
    }
    if (!declared.empty()) {
        if (const std::string error = SettingsProblem(AssignmentsOf(declared)); !error.empty()) {
            throw ConfigError(LineOf(table.source()), where + error);
        }
    }
    return declared;
}

uint32_t ReadPublish(const TableReader& reader) {
    const auto names = reader.Texts("publish");
    if (!names) {
        return kPublishAll;
    }
    uint32_t bits = 0;
    for (const auto& entry : *names) {
        const std::string& name = entry.first;
        const int line = entry.second;
        const auto known = std::find_if(std::begin(kPublishNames), std::end(kPublishNames),
                                        [&](const PublishName& kind) { return name == kind.name; });
        if (known == std::end(kPublishNames)) {
            throw ConfigError(line, reader.Name("publish") + " has \"" + name +
                                        "\"; the kinds are read, arrived, departed, link-lost and "
                                        "link-restored (which covers link-up too)");
        }
        bits |= known->bit;
    }
    return bits;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// EPC prefixes as hex digits, kept in lower case as the events write EPCs.
std::vector<std::string> ReadEpcPrefixes(const TableReader& reader, const char* key) {
    std::vector<std::string> prefixes;
    const auto texts = reader.Texts(key);
    if (!texts) {
        return prefixes;
    }
    if (texts->size() > kEpcPrefixListMax) {
        throw ConfigError(reader.LineOfKey(key), reader.Name(key) + " has more than 256 prefixes");
    }
    for (auto [prefix, line] : *texts) {
        if (prefix.empty() || prefix.size() > kEpcPrefixMaxDigits ||
            !std::all_of(prefix.begin(), prefix.end(), IsHexDigit)) {
            throw ConfigError(line, reader.Name(key) + " has \"" + prefix +
                                        "\"; an EPC prefix is 1 to 128 hexadecimal digits");
        }
        std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}

using Profiles = std::vector<ProfileConfig>;

// A settings table of [[reader]] or [[profile]] (`settings`), or nothing when there is none.
const toml::table* SettingsTable(const TableReader& reader, const char* header) {
    const toml::node* settings = reader.Find("settings");
    if (settings == nullptr) {
        return nullptr;
    }
    if (!settings->is_table()) {
        throw ConfigError(LineOf(settings->source()),
                          reader.Name("settings") + " must be a table ([" + header + "])");
    }
    return settings->as_table();
}

ProfileConfig ReadProfile(const toml::table& table) {
    const TableReader reader(table, "[[profile]]", {"name", "settings"});
    ProfileConfig profile;
    profile.line = reader.line();
    profile.name = reader.RequiredText("name");
    CheckLevelName(reader, "name", profile.name);
    if (const toml::table* settings = SettingsTable(reader, "profile.settings")) {
        profile.hasSettings = true;
        profile.settings =
            ReadDeclaredSettings(*settings, "profile \"" + profile.name + "\": [profile.settings]: ");
        for (DeclaredSetting& setting : profile.settings) {
            setting.profile = profile.name;
        }
    }
    return profile;
}

Profiles ReadProfiles(const toml::table& root) {
    Profiles profiles;
    const toml::node* node = root.get("profile");
    if (node == nullptr) {
        return profiles;
    }
    const toml::array* list = node->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
        throw ConfigError(LineOf(node->source()), "\"profile\" must be a list of tables ([[profile]])");
    }
    for (const toml::node& entry : *list) {
        ProfileConfig profile = ReadProfile(*entry.as_table());
        const auto seen = std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& other) {
            return other.name == profile.name;
        });
        if (seen != profiles.end()) {
            throw ConfigError(profile.line, "a second profile named \"" + profile.name +
                                                "\" (the first is on line " + std::to_string(seen->line) +
                                                ")");
        }
        profiles.push_back(std::move(profile));
    }
    return profiles;
}

const ProfileConfig& NamedProfile(const TableReader& reader, const std::string& readerName,
                                  const std::string& name, const Profiles& profiles) {
    const auto found = std::find_if(profiles.begin(), profiles.end(),
                                    [&](const ProfileConfig& profile) { return profile.name == name; });
    if (found != profiles.end()) {
        return *found;
    }
    std::string known;
    for (const ProfileConfig& profile : profiles) {
        known += (known.empty() ? "" : ", ") + ("\"" + profile.name + "\"");
    }
    throw ConfigError(
        reader.LineOfKey("profile"),
        "reader \"" + readerName + "\": profile \"" + name + "\" is not defined (" +
            (known.empty() ? std::string("the file has no [[profile]]") : "the profiles are " + known) + ")");
}

// The profile's values with the reader's own over them, key by key.
std::vector<DeclaredSetting> MergedSettings(const ProfileConfig& profile,
                                            const std::vector<DeclaredSetting>& own) {
    std::vector<DeclaredSetting> merged = profile.settings;
    for (const DeclaredSetting& setting : own) {
        const auto same = std::find_if(merged.begin(), merged.end(), [&](const DeclaredSetting& taken) {
            return taken.name == setting.name;
        });
        if (same != merged.end()) {
            *same = setting;
        } else {
            merged.push_back(setting);
        }
    }
    return merged;
}

// The reader's settings: its own [reader.settings], merged over its profile's when it names one.
// Each part was checked on its own lines; the merged whole is checked together on the reader's.
void ReadReaderSettings(const TableReader& reader, const Profiles& profiles, ReaderConfig& config) {
    std::vector<DeclaredSetting> own;
    if (const toml::table* settings = SettingsTable(reader, "reader.settings")) {
        config.settingsManaged = true;
        own = ReadDeclaredSettings(*settings, "reader \"" + config.name + "\": [reader.settings]: ");
    }
    const std::optional<std::string> profileName = reader.Text("profile");
    if (!profileName) {
        config.settings = std::move(own);
        return;
    }
    const ProfileConfig& profile = NamedProfile(reader, config.name, *profileName, profiles);
    config.profile = profile.name;
    config.settingsManaged = config.settingsManaged || profile.hasSettings;
    config.settings = MergedSettings(profile, own);
    if (config.settings.empty()) {
        return;
    }
    if (const std::string error = SettingsProblem(AssignmentsOf(config.settings)); !error.empty()) {
        throw ConfigError(
            reader.LineOfKey("profile"),
            "reader \"" + config.name + "\": its settings with profile \"" + profile.name + "\": " + error);
    }
}

ReaderConfig ReadReader(const toml::table& table, const AddressCheck& checkAddress,
                        const Profiles& profiles) {
    const TableReader reader(
        table, "[[reader]]",
        {"name", "address", "absence_ms", "profile", "settings", "settings_check_s", "settings_enforce",
         "publish", "read_interval_ms", "epc_include", "epc_exclude"});
    ReaderConfig config;
    config.line = reader.line();
    config.name = reader.RequiredText("name");
    CheckLevelName(reader, "name", config.name);
    for (const char* level : kSiteLevels) {
        if (config.name == level) {
            throw ConfigError(reader.LineOfKey("name"), "a reader cannot be named \"" + config.name +
                                                            "\": PREFIX/SITE/" + config.name +
                                                            "/... is the topic of the site's " + config.name);
        }
    }
    config.address = reader.RequiredText("address");
    if (std::optional<std::string> why = checkAddress(config.address)) {
        throw ConfigError(reader.LineOfKey("address"), "reader \"" + config.name + "\": address \"" +
                                                           config.address + "\" does not parse: " + *why);
    }
    Assign(config.absenceMs, reader.Integer("absence_ms", 1, kMillisecondsMax));
    ReadReaderSettings(reader, profiles, config);
    Assign(config.settingsCheckS, reader.Integer("settings_check_s", 0, kSettingsCheckMaxSeconds));
    config.settingsEnforce = reader.Boolean("settings_enforce").value_or(true);
    config.publish = ReadPublish(reader);
    Assign(config.readIntervalMs, reader.Integer("read_interval_ms", 0, kMillisecondsMax));
    config.epcInclude = ReadEpcPrefixes(reader, "epc_include");
    config.epcExclude = ReadEpcPrefixes(reader, "epc_exclude");
    return config;
}

AuditConfig ReadAudit(const toml::table* table) {
    AuditConfig audit;
    if (table == nullptr) {
        return audit;
    }
    const TableReader reader(*table, "[audit]", {"keep_days", "path"});
    Assign(audit.keepDays, reader.Integer("keep_days", 1, kAuditKeepDaysMax));
    Assign(audit.path, reader.Text("path"));
    if (reader.Find("path") != nullptr && audit.path.empty()) {
        throw ConfigError(reader.LineOfKey("path"), reader.Name("path") + " is empty");
    }
    return audit;
}

ControlConfig ReadControl(const toml::table* table) {
    ControlConfig control;
    if (table == nullptr) {
        return control;
    }
    const TableReader reader(*table, "[control]", {"commands"});
    if (const auto commands = reader.Text("commands")) {
        const auto known = std::find_if(std::begin(kPolicyNames), std::end(kPolicyNames),
                                        [&](const PolicyName& entry) { return *commands == entry.name; });
        if (known == std::end(kPolicyNames)) {
            throw ConfigError(reader.LineOfKey("commands"),
                              reader.Name("commands") + " is \"" + *commands +
                                  "\"; it takes \"off\", \"read-only\" or \"all\"");
        }
        control.commands = known->policy;
    }
    return control;
}

std::vector<ReaderConfig> ReadReaders(const toml::table& root, const AddressCheck& checkAddress,
                                      const Profiles& profiles) {
    const toml::node* node = root.get("reader");
    if (node == nullptr) {
        throw ConfigError(0, "no reader is configured (add a [[reader]] table)");
    }
    const toml::array* list = node->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
        throw ConfigError(LineOf(node->source()), "\"reader\" must be a list of tables ([[reader]])");
    }
    std::vector<ReaderConfig> readers;
    std::map<std::string, int> lineOfName;
    std::map<std::string, std::string> nameOfAddress;
    std::map<std::string, const ReaderConfig*> readerOfDevice;
    for (const toml::node& entry : *list) {
        ReaderConfig reader = ReadReader(*entry.as_table(), checkAddress, profiles);
        if (reader.name == kAuditStream) {
            throw ConfigError(reader.line, std::string("a reader must not be named \"") + kAuditStream +
                                               "\": the audit trail is published under that name, with a seq "
                                               "of its own");
        }
        if (const auto seen = lineOfName.find(reader.name); seen != lineOfName.end()) {
            throw ConfigError(reader.line, "a second reader named \"" + reader.name +
                                               "\" (the first is on line " + std::to_string(seen->second) +
                                               ")");
        }
        if (const auto seen = nameOfAddress.find(reader.address); seen != nameOfAddress.end()) {
            throw ConfigError(reader.line, "readers \"" + seen->second + "\" and \"" + reader.name +
                                               "\" have one address, \"" + reader.address + "\"");
        }
        lineOfName.emplace(reader.name, reader.line);
        nameOfAddress.emplace(reader.address, reader.name);
        readers.push_back(std::move(reader));
    }
    // Two handles on one reader would take each other's replies.
    for (const ReaderConfig& reader : readers) {
        const std::string device = DeviceOfAddress(reader.address);
        const auto [seen, first] = readerOfDevice.emplace(device, &reader);
        if (!first) {
            const ReaderConfig& other = *seen->second;
            throw ConfigError(reader.line, "readers \"" + other.name + "\" (line " +
                                               std::to_string(other.line) + ") and \"" + reader.name +
                                               "\" (line " + std::to_string(reader.line) +
                                               ") name one device, " + device);
        }
    }
    return readers;
}

HistoryConfig ReadHistory(const toml::table* table) {
    HistoryConfig history;
    if (table == nullptr) {
        return history;
    }
    const TableReader reader(*table, "[history]", {"keep_days", "max_mb"});
    Assign(history.keepDays, reader.Integer("keep_days", 1, kHistoryDaysMax));
    Assign(history.maxMb, reader.Integer("max_mb", 1, kHistoryMbMax));
    return history;
}

// The tables of a list such as [[zone]]; none when the file has no such key.
std::vector<const toml::table*> TablesOf(const toml::table& root, const char* key) {
    std::vector<const toml::table*> tables;
    const toml::node* node = root.get(key);
    if (node == nullptr) {
        return tables;
    }
    const toml::array* list = node->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
        throw ConfigError(LineOf(node->source()),
                          "\"" + std::string(key) + "\" must be a list of tables ([[" + key + "]])");
    }
    for (const toml::node& entry : *list) {
        tables.push_back(entry.as_table());
    }
    return tables;
}

// A name of a zone or door: one topic level, and one of its kind only.
std::string ReadPlaceName(const TableReader& table, std::map<std::string, int>& lineOfName,
                          const char* kind) {
    std::string name = table.RequiredText("name");
    CheckLevelName(table, "name", name);
    if (const auto seen = lineOfName.find(name); seen != lineOfName.end()) {
        throw ConfigError(table.LineOfKey("name"), std::string("a second ") + kind + " named \"" + name +
                                                       "\" (the first is on line " +
                                                       std::to_string(seen->second) + ")");
    }
    lineOfName.emplace(name, table.line());
    return name;
}

// A list of configured readers' names, each once; `what` says where in the refusals.
std::vector<std::string> ReadReaderNames(const TableReader& table, const char* key, const std::string& what,
                                         const std::vector<ReaderConfig>& readers) {
    const auto entries = table.Texts(key);
    if (!entries || entries->empty()) {
        throw ConfigError(table.LineOfKey(key), what + ": \"" + key + "\" names no reader");
    }
    std::vector<std::string> names;
    for (const auto& [name, line] : *entries) {
        const std::string& wanted = name;  // clang before 16 takes no structured binding into a lambda
        const bool known = std::any_of(readers.begin(), readers.end(),
                                       [&](const ReaderConfig& reader) { return reader.name == wanted; });
        if (!known) {
            throw ConfigError(line, what + ": \"" + name + "\" in \"" + key + "\" is no configured reader");
        }
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            throw ConfigError(line, what + ": \"" + name + "\" is named twice in \"" + key + "\"");
        }
        names.push_back(name);
    }
    return names;
}

int LineOfListed(const TableReader& table, const char* key, const std::string& name) {
    for (const auto& [listed, line] : table.Texts(key).value_or(std::vector<std::pair<std::string, int>>{})) {
        if (listed == name) {
            return line;
        }
    }
    return table.line();
}

std::vector<ZoneConfig> ReadZones(const toml::table& root, const std::vector<ReaderConfig>& readers) {
    std::vector<ZoneConfig> zones;
    std::map<std::string, int> lineOfName;
    std::map<std::string, std::string> zoneOfReader;
    for (const toml::table* table : TablesOf(root, "zone")) {
        const TableReader reader(*table, "[[zone]]", {"name", "readers", "absence_ms"});
        ZoneConfig zone;
        zone.line = reader.line();
        zone.name = ReadPlaceName(reader, lineOfName, "zone");
        zone.readers = ReadReaderNames(reader, "readers", "zone \"" + zone.name + "\"", readers);
        Assign(zone.absenceMs, reader.Integer("absence_ms", 1, kMillisecondsMax));
        for (const std::string& name : zone.readers) {
            const auto [other, first] = zoneOfReader.emplace(name, zone.name);
            if (!first) {
                throw ConfigError(LineOfListed(reader, "readers", name),
                                  "reader \"" + name + "\" is in zone \"" + other->second +
                                      "\" and in zone \"" + zone.name +
                                      "\"; a reader is in one zone at most");
            }
        }
        zones.push_back(std::move(zone));
    }
    return zones;
}

std::vector<DoorConfig> ReadDoors(const toml::table& root, const std::vector<ReaderConfig>& readers) {
    std::vector<DoorConfig> doors;
    std::map<std::string, int> lineOfName;
    for (const toml::table* table : TablesOf(root, "door")) {
        const TableReader reader(*table, "[[door]]", {"name", "outside", "inside", "settle_ms"});
        DoorConfig door;
        door.line = reader.line();
        door.name = ReadPlaceName(reader, lineOfName, "door");
        const std::string what = "door \"" + door.name + "\"";
        door.outside = ReadReaderNames(reader, "outside", what, readers);
        door.inside = ReadReaderNames(reader, "inside", what, readers);
        Assign(door.settleMs, reader.Integer("settle_ms", 1, kMillisecondsMax));
        for (const std::string& name : door.inside) {
            if (std::find(door.outside.begin(), door.outside.end(), name) != door.outside.end()) {
                throw ConfigError(
                    LineOfListed(reader, "inside", name),
                    what + ": reader \"" + name + "\" is on both sides (a pass could not tell in from out)");
            }
        }
        doors.push_back(std::move(door));
    }
    return doors;
}

constexpr int64_t kWebhookBatchWaitMaxMs = 3600 * 1000;
constexpr int64_t kBatchMaxEvents = 10000;
constexpr int64_t kRequestTimeoutMaxS = 300;
// Headers the daemon writes itself: a configured one would contradict it.
constexpr const char* kOwnHeaders[] = {"content-type", "content-length", "x-zendrik-signature", "host",
                                       "transfer-encoding"};

bool IsHeaderNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

std::vector<std::pair<std::string, std::string>> ReadHeaders(const TableReader& reader) {
    std::vector<std::pair<std::string, std::string>> headers;
    const toml::node* node = reader.Find("headers");
    if (node == nullptr) {
        return headers;
    }
    if (!node->is_table()) {
        throw ConfigError(LineOf(node->source()), reader.Name("headers") + " must be a table of texts");
    }
    for (auto&& [key, value] : *node->as_table()) {
        const std::string name(key.str());
        const int line = LineOf(key.source());
        if (name.empty() || !std::all_of(name.begin(), name.end(), IsHeaderNameCharacter)) {
            throw ConfigError(line, reader.Name("headers") + ": \"" + name + "\" is no HTTP header name");
        }
        const std::string lower = Lower(name);
        if (std::any_of(std::begin(kOwnHeaders), std::end(kOwnHeaders),
                        [&](const char* own) { return lower == own; })) {
            throw ConfigError(line,
                              reader.Name("headers") + ": \"" + name + "\" is written by the daemon itself");
        }
        if (!value.is_string()) {
            throw ConfigError(line, reader.Name("headers") + ": \"" + name + "\" must be a text");
        }
        const std::string text = value.as_string()->get();
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return c == '\r' || c == '\n' || c == '\0'; })) {
            throw ConfigError(line, reader.Name("headers") + ": \"" + name + "\" must be one line");
        }
        headers.emplace_back(name, text);
    }
    return headers;
}

std::vector<std::string> ReadEventKinds(const TableReader& reader) {
    std::vector<std::string> kinds;
    const auto texts = reader.Texts("events");
    if (!texts) {
        return kinds;
    }
    if (texts->empty()) {
        throw ConfigError(reader.LineOfKey("events"),
                          reader.Name("events") + " is empty; leave it out for every kind");
    }
    // The kinds an output may take are those the daemon publishes.
    const std::vector<std::string> known = PublishedEventKinds();
    for (const auto& [kind, line] : *texts) {
        if (std::find(known.begin(), known.end(), kind) == known.end()) {
            std::string list;
            for (const std::string& name : known) {
                list += (list.empty() ? "" : ", ") + name;
            }
            throw ConfigError(line, reader.Name("events") + " has \"" + kind + "\"; the kinds are " + list);
        }
        kinds.push_back(kind);
    }
    return kinds;
}

WebhookConfig ReadWebhook(const TableReader& reader) {
    WebhookConfig webhook;
    webhook.line = reader.line();
    webhook.name = reader.RequiredText("name");
    CheckLevelName(reader, "name", webhook.name);
    webhook.url = reader.RequiredText("url");
    const std::string scheme = Lower(webhook.url.substr(0, webhook.url.find("://") + 3));
    const bool oneLine =
        std::all_of(webhook.url.begin(), webhook.url.end(), [](char c) { return c > ' ' && c != 0x7f; });
    if ((scheme != "https://" && scheme != "http://") || webhook.url.size() <= scheme.size() || !oneLine) {
        throw ConfigError(reader.LineOfKey("url"),
                          reader.Name("url") + " must be an http:// or https:// URL without spaces");
    }
    webhook.events = ReadEventKinds(reader);
    Assign(webhook.batchMs, reader.Integer("batch_ms", 0, kWebhookBatchWaitMaxMs));
    Assign(webhook.batchMax, reader.Integer("batch_max", 1, kBatchMaxEvents));
    Assign(webhook.timeoutS, reader.Integer("timeout_s", 1, kRequestTimeoutMaxS));
    webhook.headers = ReadHeaders(reader);
    for (auto [key, target] :
         {std::pair{"secret_file", &webhook.secretFile}, std::pair{"ca_file", &webhook.caFile},
          std::pair{"cert_file", &webhook.certFile}, std::pair{"key_file", &webhook.keyFile}}) {
        *target = reader.Text(key);
        if (*target && (*target)->empty()) {
            throw ConfigError(reader.LineOfKey(key), reader.Name(key) + " is empty");
        }
    }
    if (webhook.certFile.has_value() != webhook.keyFile.has_value()) {
        const char* given = webhook.certFile ? "cert_file" : "key_file";
        throw ConfigError(reader.LineOfKey(given),
                          reader.Name(given) + " needs the other of \"cert_file\" and \"key_file\"");
    }
    return webhook;
}

std::vector<WebhookConfig> ReadOutputs(const toml::table& root) {
    std::vector<WebhookConfig> webhooks;
    const toml::node* node = root.get("output");
    if (node == nullptr) {
        return webhooks;
    }
    const toml::array* list = node->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
        throw ConfigError(LineOf(node->source()), "\"output\" must be a list of tables ([[output]])");
    }
    std::map<std::string, int> lineOfName;
    for (const toml::node& entry : *list) {
        const TableReader reader(*entry.as_table(), "[[output]]",
                                 {"name", "kind", "url", "events", "batch_ms", "batch_max", "timeout_s",
                                  "headers", "secret_file", "ca_file", "cert_file", "key_file"});
        const std::string kind = reader.RequiredText("kind");
        if (kind != "webhook") {
            throw ConfigError(reader.LineOfKey("kind"), reader.Name("kind") + " is \"" + kind +
                                                            "\"; the kind of output is \"webhook\"");
        }
        WebhookConfig webhook = ReadWebhook(reader);
        if (webhook.name == "mqtt") {
            throw ConfigError(reader.LineOfKey("name"),
                              reader.Name("name") + " \"mqtt\" is the broker's own");
        }
        if (const auto seen = lineOfName.find(webhook.name); seen != lineOfName.end()) {
            throw ConfigError(webhook.line, "a second output named \"" + webhook.name +
                                                "\" (the first is on line " + std::to_string(seen->second) +
                                                ")");
        }
        lineOfName.emplace(webhook.name, webhook.line);
        webhooks.push_back(std::move(webhook));
    }
    return webhooks;
}

// TOML allows no raw control character but tab and the line ends anywhere in a file. They are
// refused here, before the parser sees them: toml++ 3.3 only assumes (and in a debug build
// asserts) that a table header's key starts with a key character, and a control character there
// would take it down an undefined path.
void RefuseControlCharacters(std::string_view text) {
    int line = 1;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            ++line;
        } else if ((byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", byte);
            throw ConfigError(line, std::string("control character ") + code + " is not allowed");
        }
    }
}

struct OpenFile {
    explicit OpenFile(int opened) : fd(opened) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd;
};

// Whether `path` is in the credentials folder systemd gives the service ($CREDENTIALS_DIRECTORY,
// from LoadCredential=): systemd lets the service's user alone read what is there, by an ACL
// entry (which shows in the group bits) on a file that root owns.
bool InCredentialsDirectory(const std::string& path) {
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (directory == nullptr || *directory == '\0') {
        return false;
    }
    const std::filesystem::path parent = std::filesystem::path(path).lexically_normal().parent_path();
    return parent == std::filesystem::path(directory).lexically_normal();
}

// The secret a token file holds: its text without the line end an editor leaves.
std::string TokenOfFile(const HttpToken& token) {
    const auto refused = [&](const std::string& why) {
        return ConfigError(token.line, "token \"" + token.name + "\": " + token.file + " " + why);
    };
    const OpenFile file(::open(token.file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.fd;
    if (fd < 0) {
        throw refused(std::string("cannot be read: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw refused("is not a regular file");
    }
    if ((info.st_mode & kGroupAndOthers) != 0 && !InCredentialsDirectory(token.file)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw refused(std::string("may be used by others than its owner (mode ") + mode +
                      "): only its owner may read it (chmod 600)");
    }
    std::string text(kTokenMaxBytes + 1, '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    if (got < 0) {
        throw refused(std::string("cannot be read: ") + std::strerror(errno));
    }
    text.resize(static_cast<std::size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (text.size() > kTokenMaxBytes) {
        throw refused("is longer than a token (4096 bytes)");
    }
    if (text.size() < kTokenMinBytes || !IsTokenText(text)) {
        throw refused(
            "must hold one token of at least 16 visible ASCII characters without spaces "
            "(e.g. from `openssl rand -hex 32`)");
    }
    return text;
}

// A file of secrets: a key or a password. Others than its owner and group may neither read nor
// write it, as ssh and TLS servers insist: a secret every user of the host can read is none.
void CheckSecretFile(const std::string& path, int line, const char* key) {
    const std::string name = std::string("\"") + key + "\" in [mqtt]: ";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw ConfigError(line, name + "cannot read " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw ConfigError(line, name + path + " is not a regular file");
    }
    if ((info.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw ConfigError(line,
                          name + path + " may be read or written by every user (mode " + mode +
                              "); make it the daemon's only (chmod 600, or 640 with the daemon's group)");
    }
    if (::access(path.c_str(), R_OK) != 0) {
        throw ConfigError(line, name + "cannot read " + path + ": " + std::strerror(errno));
    }
}

// The password of a password file: its first line, without the line end.
std::string ReadPasswordFile(const std::string& path, int line) {
    CheckSecretFile(path, line, "password_file");
    std::ifstream file(path);
    std::string password;
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (file.bad() || password.empty()) {
        throw ConfigError(line,
                          "\"password_file\" in [mqtt]: " + path + " holds no password on its first line");
    }
    if (password.size() > kPasswordMaxBytes) {
        throw ConfigError(line, "\"password_file\" in [mqtt]: the password in " + path +
                                    " is longer than MQTT allows (65535 bytes)");
    }
    return password;
}

// The files [mqtt] names for its secrets, checked, and the password read from its file.
void ReadSecretFiles(MqttConfig& mqtt) {
    if (mqtt.keyFile) {
        CheckSecretFile(*mqtt.keyFile, mqtt.keyFileLine, "key_file");
    }
    if (mqtt.passwordFile) {
        mqtt.password = ReadPasswordFile(*mqtt.passwordFile, mqtt.passwordFileLine);
    }
}

}  // namespace

const char* AccessRoleWords(AccessRole role) {
    for (const RoleName& entry : kRoleNames) {
        if (entry.role == role) {
            return entry.name;
        }
    }
    return "viewer";
}

std::string AuditPath(const AuditConfig& audit, const SpoolConfig& spool) {
    return audit.path.empty() ? spool.path + ".audit" : audit.path;
}

void ReadTokenFiles(HttpConfig& http) {
    std::map<std::string, const HttpToken*> holderOf;
    for (HttpToken& token : http.tokens) {
        token.secret = TokenOfFile(token);
        const auto [seen, first] = holderOf.emplace(token.secret, &token);
        if (!first) {
            throw ConfigError(token.line, "token \"" + token.name + "\" is the same as token \"" +
                                              seen->second->name +
                                              "\": each holder needs a token of its own");
        }
    }
}

std::vector<std::string> PublishKindNames(uint32_t bits) {
    std::vector<std::string> names;
    for (const PublishName& kind : kPublishNames) {
        if ((bits & kind.bit) != 0) {
            names.emplace_back(kind.name);
        }
    }
    return names;
}

const char* CommandPolicyWords(CommandPolicy policy) {
    for (const PolicyName& entry : kPolicyNames) {
        if (entry.policy == policy) {
            return entry.name;
        }
    }
    return "off";
}

std::optional<uint64_t> ParseDurationText(std::string_view text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    const auto unit = std::find_if(std::begin(kDurationUnits), std::end(kDurationUnits),
                                   [&](const DurationUnit& entry) { return entry.unit == text.back(); });
    if (unit == std::end(kDurationUnits)) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(0, text.size() - 1);
    uint64_t count = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (error != std::errc{} || end != digits.data() + digits.size() ||
        count > std::numeric_limits<uint64_t>::max() / unit->seconds) {
        return std::nullopt;
    }
    return count * unit->seconds;
}

ConfigError::ConfigError(int line, const std::string& reason)
    : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + reason : reason),
      line_(line),
      reason_(reason) {}

DaemonConfig ParseConfig(std::string_view text, const AddressCheck& checkAddress) {
    RefuseControlCharacters(text);
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error& error) {
        throw ConfigError(LineOf(error.source()), std::string(error.description()));
    }
    const TableReader top(root, "",
                          {"site", "status_interval_ms", "mqtt", "publish", "spool", "http", "control",
                           "profile", "reader", "audit", "zone", "door", "history", "output"});
    DaemonConfig config;
    config.site = top.RequiredText("site");
    CheckLevelName(top, "site", config.site);
    Assign(config.statusIntervalMs,
           top.Integer("status_interval_ms", kStatusIntervalMinMs, kMillisecondsMax));
    config.mqtt = ReadMqtt(SubTable(root, "mqtt"), config.site);
    config.publish = ReadPublishTable(SubTable(root, "publish"));
    config.spool = ReadSpool(SubTable(root, "spool"));
    config.http = ReadHttp(SubTable(root, "http"));
    config.control = ReadControl(SubTable(root, "control"));
    config.profiles = ReadProfiles(root);
    config.readers = ReadReaders(root, checkAddress, config.profiles);
    config.audit = ReadAudit(SubTable(root, "audit"));
    config.zones = ReadZones(root, config.readers);
    config.doors = ReadDoors(root, config.readers);
    config.history = ReadHistory(SubTable(root, "history"));
    config.webhooks = ReadOutputs(root);
    config.mqttEnabled = root.get("mqtt") != nullptr || config.webhooks.empty();
    CheckTopics(config);
    return config;
}

DaemonConfig LoadConfig(const std::string& path, const AddressCheck& checkAddress) {
    const auto cannotRead = [&](const std::string& why) {
        return ConfigError(0, "cannot read " + path + ": " + why);
    };
    // Not blocking, so that a FIFO given as the file cannot hold the daemon at its open.
    const OpenFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.fd;
    if (fd < 0) {
        throw cannotRead(std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw cannotRead(std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw ConfigError(0, path + " is not a regular file");
    }
    // The file may still grow while it is read: at most one byte more than allowed is taken.
    std::string text;
    char buffer[16384];
    while (text.size() <= kConfigFileMaxBytes) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw cannotRead(std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (text.size() > kConfigFileMaxBytes) {
        throw ConfigError(0, path + " is larger than 1 MiB: no configuration is that long");
    }
    DaemonConfig config = ParseConfig(text, checkAddress);
    ReadTokenFiles(config.http);
    ReadSecretFiles(config.mqtt);
    return config;
}

std::string DescribeConfigError(const std::string& path, const ConfigError& error) {
    return (error.line() > 0 ? path + ":" + std::to_string(error.line()) : path) + ": " + error.reason();
}

std::vector<std::string> ConfigFileWarnings(const std::string& path, const DaemonConfig& config) {
    std::vector<std::string> warnings;
    struct stat info {};
    if (config.mqtt.password && !config.mqtt.passwordFile && ::stat(path.c_str(), &info) == 0 &&
        (info.st_mode & S_IROTH) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        warnings.push_back(path + " holds the MQTT password and every user may read it (mode " + mode +
                           "); make it readable to the daemon only (chmod 600 or 640)");
    }
    return warnings;
}

std::optional<ConfigError> OutputFileProblem(const DaemonConfig& config) {
    for (const WebhookConfig& webhook : config.webhooks) {
        const std::pair<const char*, const std::optional<std::string>*> files[] = {
            {"secret_file", &webhook.secretFile},
            {"ca_file", &webhook.caFile},
            {"cert_file", &webhook.certFile},
            {"key_file", &webhook.keyFile}};
        for (const auto& [key, file] : files) {
            if (!*file) {
                continue;
            }
            const std::string where = "output \"" + webhook.name + "\": " + key + " " + **file;
            const OpenFile opened(::open((*file)->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
            struct stat info {};
            if (opened.fd < 0 || ::fstat(opened.fd, &info) != 0) {
                return ConfigError(webhook.line, where + " cannot be read: " + std::strerror(errno));
            }
            if (!S_ISREG(info.st_mode)) {
                return ConfigError(webhook.line, where + " is not a regular file");
            }
            if (info.st_size == 0) {
                return ConfigError(webhook.line, where + " is empty");
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> SpoolDirectoryProblem(const SpoolConfig& spool) {
    const std::filesystem::path parent = std::filesystem::path(spool.path).parent_path();
    const std::string directory = parent.empty() ? "." : parent.string();
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        return "the spool's directory " + directory +
               (errno == ENOENT ? std::string(" does not exist")
                                : " cannot be used: " + std::string(std::strerror(errno)));
    }
    if (!S_ISDIR(info.st_mode)) {
        return "the spool's directory " + directory + " is not a directory";
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        return "the spool's directory " + directory + " is not writable: " + std::strerror(errno);
    }
    return std::nullopt;
}

std::string HistoryPath(const SpoolConfig& spool) {
    return (std::filesystem::path(spool.path).parent_path() / "history.sqlite").string();
}

std::string DeviceOfAddress(const std::string& address) {
    const std::string bare = address.substr(0, address.find('?'));
    for (const std::string scheme : {"usb:", "serial:"}) {
        if (bare.rfind(scheme, 0) != 0 || bare.size() <= scheme.size() || bare[scheme.size()] != '/') {
            continue;
        }
        const std::string path = bare.substr(scheme.size());
        std::error_code missing;
        const std::filesystem::path real = std::filesystem::canonical(path, missing);
        return missing ? std::filesystem::path(path).lexically_normal().string() : real.string();
    }
    return bare;
}

}  // namespace zendrik::daemon
