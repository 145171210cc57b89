// The configuration reader: a good file read whole, and every kind of bad file refused with the
// line it was found on and the reason; files that are no configuration, a password others may
// read, and a spool directory that cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "daemon/config/config.h"
#include "daemon/config/config_print.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

// Stands in for the library's address check: the grammar's schemes, nothing else.
std::optional<std::string> CheckSchemes(const std::string& address) {
    for (const char* scheme : {"usb", "serial:", "udp:"}) {
        if (address.rfind(scheme, 0) == 0) {
            return std::nullopt;
        }
    }
    return "unknown scheme";
}

constexpr const char* kReaderOfDefaults = "[[reader]]\nname = \"g\"\naddress = \"usb\"\n";

constexpr const char* kGood = R"(site = "dock-3"
status_interval_ms = 500
[mqtt]
host = "broker.local"
port = 8883
topic_prefix = "plant/zendrik"
username = "gate"
password = "secret"
ca_file = "/etc/ssl/broker.pem"
reconnect_max_ms = 800
max_message_bytes = 4096
[publish]
batch_ms = 100
batch_max = 250
[spool]
path = "/tmp/spool.sqlite"
max_messages = 10
max_age = "7d"
replay_rate = 2000
[[reader]]
name = "gate-1"
address = "usb:/dev/hidraw3"
absence_ms = 1500
[[reader]]
name = "gate-2"
address = "udp:192.168.1.250:27001"
)";

TEST(ConfigTest, ReadsEveryKeyAndKeepsDefaults) {
    const DaemonConfig config = ParseConfig(kGood, CheckSchemes);
    EXPECT_EQ(config.site, "dock-3");
    EXPECT_EQ(config.statusIntervalMs, 500u);
    EXPECT_EQ(config.mqtt.host, "broker.local");
    EXPECT_EQ(config.mqtt.port, 8883);
    EXPECT_EQ(config.mqtt.topicPrefix, "plant/zendrik");
    EXPECT_EQ(config.mqtt.clientId, "zendrikd-dock-3");
    EXPECT_EQ(config.mqtt.password, "secret");
    EXPECT_EQ(config.mqtt.caFile, "/etc/ssl/broker.pem");
    EXPECT_EQ(config.mqtt.reconnectMinMs, 100u);
    EXPECT_EQ(config.mqtt.reconnectMaxMs, 800u);
    EXPECT_EQ(config.mqtt.maxMessageBytes, 4096u);
    EXPECT_EQ(ParseConfig("site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"usb\"\n", CheckSchemes)
                  .mqtt.maxMessageBytes,
              std::nullopt)
        << "by default the broker's limit alone";
    EXPECT_EQ(config.spool.maxMessages, 10u);
    EXPECT_EQ(config.spool.maxAgeS, 7u * 24 * 3600);
    EXPECT_EQ(config.spool.replayRate, 2000u);
    EXPECT_EQ(config.publish, (PublishConfig{100, 250}));
    const DaemonConfig plain = ParseConfig("site = \"a\"\n" + std::string(kReaderOfDefaults), CheckSchemes);
    EXPECT_EQ(plain.publish, (PublishConfig{0, 500})) << "one message a read by default";
    EXPECT_EQ(plain.spool.maxAgeS, std::nullopt);
    EXPECT_EQ(plain.spool.replayRate, std::nullopt);
    for (const auto& [text, seconds] : std::vector<std::pair<const char*, std::optional<uint64_t>>>{
             {"45s", 45},
             {"30m", 1800},
             {"12h", 43200},
             {"7d", 604800},
             {"7", std::nullopt},
             {"d", std::nullopt},
             {"-1d", std::nullopt},
             {"1.5h", std::nullopt},
             {"7w", std::nullopt},
             {"99999999999999999999d", std::nullopt}}) {
        EXPECT_EQ(ParseDurationText(text), seconds) << text;
    }
    ASSERT_EQ(config.readers.size(), 2u);
    EXPECT_EQ(config.readers[0].absenceMs, 1500u);
    EXPECT_EQ(config.readers[1].name, "gate-2");
    EXPECT_EQ(config.readers[1].absenceMs, 3000u);
    EXPECT_EQ(config.readers[1].line, 24);
}

TEST(ConfigTest, ReadsTheManagedReaderAndWhatItPublishes) {
    const DaemonConfig config = ParseConfig(R"(site = "a"
[control]
commands = "read-only"
[[reader]]
name = "gate-1"
address = "usb"
settings_check_s = 1
settings_enforce = false
publish = ["read", "departed"]
read_interval_ms = 1000
epc_include = ["E200", "3000"]
epc_exclude = ["e2000000dead"]
[reader.settings]
power = 26
buzzer = "off"
work-mode = "always"
[[reader]]
name = "gate-2"
address = "usb:/x"
[reader.settings]
)",
                                            CheckSchemes);
    EXPECT_EQ(config.control.commands, CommandPolicy::kReadOnly);
    const ReaderConfig& managed = config.readers[0];
    EXPECT_TRUE(managed.settingsManaged);
    EXPECT_EQ(managed.settings,
              (std::vector<DeclaredSetting>{{"power", "26"}, {"buzzer", "off"}, {"work-mode", "always"}}));
    EXPECT_EQ(managed.settingsCheckS, 1u);
    EXPECT_FALSE(managed.settingsEnforce);
    EXPECT_EQ(managed.publish, kPublishRead | kPublishDeparted);
    EXPECT_EQ(managed.readIntervalMs, 1000u);
    EXPECT_EQ(managed.epcInclude, (std::vector<std::string>{"e200", "3000"}));
    EXPECT_EQ(managed.epcExclude, (std::vector<std::string>{"e2000000dead"}));
    // An empty table manages nothing but says so; no table leaves the reader unmanaged.
    EXPECT_TRUE(config.readers[1].settingsManaged);
    EXPECT_TRUE(config.readers[1].settings.empty());
    EXPECT_EQ(config.readers[1].settingsCheckS, 300u);
    EXPECT_TRUE(config.readers[1].settingsEnforce);
    EXPECT_EQ(config.readers[1].publish, kPublishAll);
    EXPECT_FALSE(ParseConfig(kGood, CheckSchemes).readers[0].settingsManaged);
    EXPECT_EQ(ParseConfig(kGood, CheckSchemes).control.commands, CommandPolicy::kOff);
}

constexpr const char* kReader = "[[reader]]\nname = \"g\"\naddress = \"usb\"\n";

// Three readers a zone and a door can name (lines 2, 5 and 8).
constexpr const char* kThreeReaders =
    "site = \"a\"\n[[reader]]\nname = \"yard\"\naddress = \"usb:/y\"\n[[reader]]\nname = \"left\"\n"
    "address = \"usb:/l\"\n[[reader]]\nname = \"right\"\naddress = \"usb:/r\"\n";

TEST(ConfigTest, ReadsZonesAndDoors) {
    const DaemonConfig config =
        ParseConfig(std::string(kThreeReaders) +
                        "[[zone]]\nname = \"dock-3\"\nreaders = [\"left\", \"right\"]\n"
                        "absence_ms = 5000\n[[zone]]\nname = \"yard_3\"\nreaders = [\"yard\"]\n"
                        "[[door]]\nname = \"door-3\"\noutside = [\"yard\"]\n"
                        "inside = [\"left\"]\nsettle_ms = 1500\n",
                    CheckSchemes);
    ASSERT_EQ(config.zones.size(), 2u);
    EXPECT_EQ(config.zones[0], (ZoneConfig{"dock-3", {"left", "right"}, 5000, 11}));
    EXPECT_EQ(config.zones[1], (ZoneConfig{"yard_3", {"yard"}, 3000, 15}));
    ASSERT_EQ(config.doors.size(), 1u);
    EXPECT_EQ(config.doors[0], (DoorConfig{"door-3", {"yard"}, {"left"}, 1500, 18}));
    EXPECT_EQ(ParseConfig(kThreeReaders + std::string("[[door]]\nname = \"d\"\noutside = [\"yard\"]\n"
                                                      "inside = [\"left\"]\n"),
                          CheckSchemes)
                  .doors[0]
                  .settleMs,
              2000u);
    EXPECT_TRUE(ParseConfig(kGood, CheckSchemes).zones.empty());
    EXPECT_EQ(ParseConfig(kGood, CheckSchemes).history, (HistoryConfig{30, 512}));
    EXPECT_EQ(ParseConfig("site = \"a\"\n[history]\nkeep_days = 7\nmax_mb = 64\n" + std::string(kReader),
                          CheckSchemes)
                  .history,
              (HistoryConfig{7, 64}));
    EXPECT_EQ(HistoryPath(SpoolConfig{"/var/lib/zendrik/spool.sqlite"}), "/var/lib/zendrik/history.sqlite");
}

// A reader's settings merged over its profile's, key by key, each saying where it comes from; and
// --print-config's text reads back to the same values.
TEST(ConfigTest, MergesAProfileWithTheReadersOwnSettings) {
    const std::string profiles = R"(site = "a"
[[profile]]
name = "dock-door"
[profile.settings]
power = 26
buzzer = "off"
[[profile]]
name = "bare"
[[profile]]
name = "empty"
[profile.settings]
)";
    const auto from = [](const char* name, const char* value, const char* profile = "") {
        return DeclaredSetting{name, value, profile};
    };
    struct Case {
        const char* what;
        std::string reader;  // the lines after name and address
        bool managed;
        std::vector<DeclaredSetting> settings;
    };
    const Case cases[] = {
        {"the profile's values",
         "profile = \"dock-door\"\n",
         true,
         {from("power", "26", "dock-door"), from("buzzer", "off", "dock-door")}},
        {"one overridden, one added",
         "profile = \"dock-door\"\n[reader.settings]\nwork-mode = \"always\"\npower = 24\n",
         true,
         {from("power", "24"), from("buzzer", "off", "dock-door"), from("work-mode", "always")}},
        {"a profile without settings manages nothing", "profile = \"bare\"\n", false, {}},
        {"a profile without settings under the reader's own",
         "profile = \"bare\"\n[reader.settings]\npower = 20\n",
         true,
         {from("power", "20")}},
        {"an empty profile table manages", "profile = \"empty\"\n", true, {}},
        {"no profile", "[reader.settings]\npower = 20\n", true, {from("power", "20")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DaemonConfig config = ParseConfig(profiles + kReader + c.reader, CheckSchemes);
        const ReaderConfig& reader = config.readers.at(0);
        EXPECT_EQ(reader.settingsManaged, c.managed);
        EXPECT_EQ(reader.settings, c.settings);
        const std::string printed = PrintedConfig(config);
        const DaemonConfig again = ParseConfig(printed, CheckSchemes);
        ASSERT_EQ(again.profiles.size(), config.profiles.size());
        for (std::size_t index = 0; index < config.profiles.size(); ++index) {
            EXPECT_EQ(again.profiles[index].name, config.profiles[index].name);
            EXPECT_EQ(again.profiles[index].hasSettings, config.profiles[index].hasSettings);
            EXPECT_EQ(again.profiles[index].settings, config.profiles[index].settings) << printed;
        }
        const ReaderConfig& reread = again.readers.at(0);
        EXPECT_EQ(reread.profile, reader.profile) << printed;
        EXPECT_EQ(reread.settingsManaged, reader.settingsManaged) << printed;
        ASSERT_EQ(reread.settings.size(), reader.settings.size()) << printed;
        for (std::size_t index = 0; index < reader.settings.size(); ++index) {
            const DeclaredSetting& setting = reader.settings[index];
            EXPECT_EQ(reread.settings[index].Assignment(), setting.Assignment()) << printed;
            const bool number = std::isdigit(static_cast<unsigned char>(setting.value[0])) != 0;
            const std::string line =
                setting.name + " = " + (number ? setting.value : "'" + setting.value + "'") + "  # " +
                (setting.profile.empty() ? "reader" : "profile '" + setting.profile + "'");
            EXPECT_NE(printed.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << printed;
        }
    }
    EXPECT_EQ(from("power", "26", "dock-door").Source(), std::string("profile"));
    EXPECT_EQ(from("power", "26").Source(), std::string("reader"));
}

struct BadFile {
    const char* what;
    std::string text;
    int line;
    std::string reason;  // a part of the reason
};

TEST(ConfigTest, RefusesBadFilesWithLineAndReason) {
    const std::string reader = kReader;
    const std::string three = kThreeReaders;
    const std::string profile = "[[profile]]\nname = \"dock\"\n[profile.settings]\n";
    // Two names of one device node: the node and a link to it, as udev makes them.
    const testing::TemporaryDirectory devices;
    std::ofstream(devices.File("hidraw3")).put('\0');
    std::filesystem::create_symlink(devices.File("hidraw3"), devices.File("gate-1"));
    const auto twoReaders = [](const std::string& first, const std::string& second) {
        return "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"" + first +
               "\"\n[[reader]]\nname = \"h\"\naddress = \"" + second + "\"\n";
    };
    const std::string hook = "[[output]]\nname = \"w\"\n";
    const std::string webhook = hook + "kind = \"webhook\"\nurl = \"https://wms.example/rfid\"\n";
    const BadFile cases[] = {
        {"TOML syntax", "site = \"a\"\n[mqtt\nhost = 1\n", 2, ""},
        {"unterminated text", "site = \"a\n", 1, ""},
        {"control character in a table header", std::string("site = \"a\"\n[\x01\0\0[l]\n", 14), 2,
         "control character 0x01"},
        {"unknown top-level key", "site = \"a\"\nsiet = \"b\"\n", 2, "unknown key \"siet\""},
        {"unknown key in [mqtt]", "site = \"a\"\n[mqtt]\nhots = \"x\"\n", 3,
         "unknown key \"hots\" in [mqtt]"},
        {"unknown key in a reader",
         "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"usb\"\nabsence = 3\n", 5,
         "unknown key \"absence\" in [[reader]]"},
        {"site missing", "[mqtt]\nport = 1883\n", 0, "\"site\" is missing"},
        {"site not a text", "site = 3\n", 1, "\"site\" must be a text"},
        {"site with a level separator", "site = \"a/b\"\n", 1, "must not contain '/'"},
        {"site with a wildcard", "site = \"a#\"\n", 1, "must not contain"},
        {"port out of range", "site = \"a\"\n[mqtt]\nport = 70000\n", 3, "from 1 to 65535, not 70000"},
        {"port as text", "site = \"a\"\n[mqtt]\nport = \"1883\"\n", 3, "must be an integer"},
        {"a message limit too small for a status", "site = \"a\"\n[mqtt]\nmax_message_bytes = 100\n", 3,
         "\"max_message_bytes\" in [mqtt] must be from 128 to 268435460, not 100"},
        {"a message limit as text", "site = \"a\"\n[mqtt]\nmax_message_bytes = \"1k\"\n", 3,
         "must be an integer"},
        {"prefix with a wildcard", "site = \"a\"\n[mqtt]\ntopic_prefix = \"z/+\"\n", 3,
         "must not contain '+'"},
        {"prefix with a trailing slash", "site = \"a\"\n[mqtt]\ntopic_prefix = \"z/\"\n", 3, "trailing '/'"},
        {"password without user", "site = \"a\"\n[mqtt]\npassword = \"p\"\n", 3, "needs a \"username\""},
        {"reconnect ceiling below floor",
         "site = \"a\"\n[mqtt]\nreconnect_min_ms = 900\nreconnect_max_ms = 10\n", 4, "below"},
        {"mqtt not a table", "site = \"a\"\nmqtt = 1\n", 2, "must be a table"},
        {"spool size zero", "site = \"a\"\n[spool]\nmax_messages = 0\n", 3, "from 1 to"},
        {"no reader", "site = \"a\"\n", 0, "no reader is configured"},
        {"reader not a table list", "site = \"a\"\nreader = 1\n", 2, "list of tables"},
        {"reader without address", "site = \"a\"\n[[reader]]\nname = \"g\"\n", 2,
         "\"address\" in [[reader]] is missing"},
        {"address that does not parse", "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"tcp:1\"\n", 4,
         "address \"tcp:1\" does not parse: unknown scheme"},
        {"reader name too long",
         "site = \"a\"\n[[reader]]\nname = "
         "\"0123456789012345678901234567890123456789012345678901234567890123\"\n"
         "address = \"usb\"\n",
         3, "longer than 63 bytes"},
        {"reader name empty", "site = \"a\"\n[[reader]]\nname = \"\"\naddress = \"usb\"\n", 3, "is empty"},
        {"two readers with one name",
         "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"usb:/a\"\n[[reader]]\nname = \"g\"\naddress = "
         "\"usb:/b\"\n",
         5, "a second reader named \"g\" (the first is on line 2)"},
        {"two readers on one address",
         "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"usb\"\n[[reader]]\nname = \"h\"\naddress = "
         "\"usb\"\n",
         5, "have one address"},
        {"absence of zero", "site = \"a\"\n" + reader + "absence_ms = 0\n", 5, "from 1 to"},
        // What the broker refuses in a topic, found before the first publish.
        {"reader name with U+0085", "site = \"a\"\n[[reader]]\nname = \"bad\\u0085\"\naddress = \"usb\"\n", 3,
         "\"name\" in [[reader]] must be valid UTF-8 without control characters"},
        {"reader name with U+0000", "site = \"a\"\n[[reader]]\nname = \"a\\u0000b\"\naddress = \"usb\"\n", 3,
         "must not contain control characters"},
        {"site with U+FFFE", "site = \"a\\uFFFE\"\n" + reader, 1, "\"site\" must be valid UTF-8"},
        {"reader name with a leading $", "site = \"a\"\n[[reader]]\nname = \"$g\"\naddress = \"usb\"\n", 3,
         "must not start with '$'"},
        {"prefix with U+0085", "site = \"a\"\n[mqtt]\ntopic_prefix = \"z\\u0085\"\n" + reader, 3,
         "\"topic_prefix\" in [mqtt] must be valid UTF-8"},
        {"prefix of the broker's own", "site = \"a\"\n[mqtt]\ntopic_prefix = \"$SYS/z\"\n" + reader, 3,
         "must not start with '$'"},
        {"prefix longer than a topic may be",
         "site = \"a\"\n[mqtt]\ntopic_prefix = \"" + std::string(65530, 'z') + "\"\n" + reader, 4,
         "is longer than MQTT allows"},
        {"one device through a udev link",
         twoReaders("usb:" + devices.File("hidraw3"), "usb:" + devices.File("gate-1")), 5,
         "readers \"g\" (line 2) and \"h\" (line 5) name one device, " + devices.File("hidraw3")},
        {"one network reader with another local end",
         twoReaders("udp:10.0.0.5:27011?local=0.0.0.0:5000", "udp:10.0.0.5:27011"), 5,
         "name one device, udp:10.0.0.5:27011"},
        {"HTTP on every address without a token",
         "site = \"a\"\n[http]\nlisten = \"0.0.0.0:8765\"\n" + reader, 3, "needs a \"token\""},
        {"HTTP on a host address without a token",
         "site = \"a\"\n[http]\nlisten = \"[fd00::1]:80\"\n" + reader, 3, "outside this host"},
        {"HTTP on a name", "site = \"a\"\n[http]\nlisten = \"localhost:8765\"\n" + reader, 3,
         "numeric address"},
        {"HTTP without a port", "site = \"a\"\n[http]\nlisten = \"127.0.0.1\"\n" + reader, 3, "ADDRESS:PORT"},
        {"HTTP on port 0", "site = \"a\"\n[http]\nlisten = \"127.0.0.1:0\"\n" + reader, 3, "from 1 to 65535"},
        {"HTTP port out of range", "site = \"a\"\n[http]\nlisten = \"127.0.0.1:70000\"\n" + reader, 3,
         "not a number from 0 to 65535"},
        {"a certificate without its key", "site = \"a\"\n[http]\ncert_file = \"/c.pem\"\n" + reader, 3,
         "needs the other"},
        {"a token with a space", "site = \"a\"\n[http]\ntoken = \"a b\"\n" + reader, 3, "without spaces"},
        {"unknown key in [http]", "site = \"a\"\n[http]\nport = 80\n" + reader, 3,
         "unknown key \"port\" in [http]"},
        // The desired settings, with the words of `zendrik set`, and what is published.
        {"an unknown setting", "site = \"a\"\n" + reader + "[reader.settings]\npower = 26\npowr = 3\n", 7,
         "reader \"g\": [reader.settings]: unknown setting \"powr\""},
        {"a power no kind takes", "site = \"a\"\n" + reader + "[reader.settings]\npower = 99\n", 6,
         "power must be"},
        {"a word the tool does not take",
         "site = \"a\"\n" + reader + "[reader.settings]\nbuzzer = \"loud\"\n", 6, "buzzer"},
        {"a setting that is shown only", "site = \"a\"\n" + reader + "[reader.settings]\nband = \"fcc\"\n", 6,
         "band cannot be set"},
        {"a setting as true", "site = \"a\"\n" + reader + "[reader.settings]\nbuzzer = true\n", 6,
         "must be a text or an integer"},
        {"output bytes past the EPC window",
         "site = \"a\"\n" + reader + "[reader.settings]\noutput-start = 10\noutput-length = 4\n", 5,
         "runs past the 12 EPC bytes"},
        {"settings not a table", "site = \"a\"\n" + reader + "settings = 1\n", 5, "must be a table"},
        {"a check interval below zero", "site = \"a\"\n" + reader + "settings_check_s = -1\n", 5,
         "from 0 to"},
        {"enforce as a word", "site = \"a\"\n" + reader + "settings_enforce = \"yes\"\n", 5, "true or false"},
        {"an unknown kind to publish", "site = \"a\"\n" + reader + "publish = [\"read\", \"writes\"]\n", 5,
         "has \"writes\"; the kinds are read, arrived"},
        {"publish not a list", "site = \"a\"\n" + reader + "publish = \"read\"\n", 5,
         "must be a list of texts"},
        {"an EPC prefix that is no hex", "site = \"a\"\n" + reader + "epc_include = [\"e2\", \"xyz\"]\n", 5,
         "has \"xyz\"; an EPC prefix is 1 to 128 hexadecimal digits"},
        {"an empty EPC prefix", "site = \"a\"\n" + reader + "epc_exclude = [\"\"]\n", 5, "an EPC prefix is"},
        {"a read interval as text", "site = \"a\"\n" + reader + "read_interval_ms = \"1s\"\n", 5,
         "must be an integer"},
        {"an unknown command policy", "site = \"a\"\n[control]\ncommands = \"some\"\n" + reader, 3,
         "it takes \"off\", \"read-only\" or \"all\""},
        {"a batch wait over a minute", "site = \"a\"\n[publish]\nbatch_ms = 60001\n" + reader, 3,
         "\"batch_ms\" in [publish] must be from 0 to 60000, not 60001"},
        {"an empty batch", "site = \"a\"\n[publish]\nbatch_max = 0\n" + reader, 3,
         "\"batch_max\" in [publish] must be from 1 to 10000"},
        {"unknown key in [publish]", "site = \"a\"\n[publish]\nbatch = 5\n" + reader, 3,
         "unknown key \"batch\" in [publish]"},
        {"an age without unit", "site = \"a\"\n[spool]\nmax_age = \"7\"\n" + reader, 3,
         "\"max_age\" in [spool] must be a time such as \"7d\""},
        {"an age below a minute", "site = \"a\"\n[spool]\nmax_age = \"30s\"\n" + reader, 3,
         "from one minute to ten years, not \"30s\""},
        {"an age as a number", "site = \"a\"\n[spool]\nmax_age = 7\n" + reader, 3, "must be a text"},
        {"a replay rate of nothing", "site = \"a\"\n[spool]\nreplay_rate = 0\n" + reader, 3,
         "\"replay_rate\" in [spool] must be from 1 to 1000000"},
        {"unknown key in [control]", "site = \"a\"\n[control]\ncommand = \"all\"\n" + reader, 3,
         "unknown key \"command\" in [control]"},
        // Zones and doors name configured readers, each place once, and are topic levels.
        {"a zone naming an unknown reader",
         three + "[[zone]]\nname = \"z\"\nreaders = [\"left\",\n \"lft\"]\n", 14,
         "zone \"z\": \"lft\" in \"readers\" is no configured reader"},
        {"a door naming an unknown reader",
         three + "[[door]]\nname = \"d\"\noutside = [\"yrd\"]\ninside = [\"left\"]\n", 13,
         "door \"d\": \"yrd\" in \"outside\" is no configured reader"},
        {"a reader in two zones",
         three + "[[zone]]\nname = \"z\"\nreaders = [\"left\"]\n[[zone]]\nname = \"w\"\n"
                 "readers = [\"right\",\n\"left\"]\n",
         17, "reader \"left\" is in zone \"z\" and in zone \"w\""},
        {"a reader on both sides of a door",
         three + "[[door]]\nname = \"d\"\noutside = [\"yard\", \"left\"]\ninside = [\"left\"]\n", 14,
         "door \"d\": reader \"left\" is on both sides"},
        {"a door with an empty side", three + "[[door]]\nname = \"d\"\noutside = []\ninside = [\"left\"]\n",
         13, "door \"d\": \"outside\" names no reader"},
        {"a door without an inside", three + "[[door]]\nname = \"d\"\noutside = [\"yard\"]\n", 11,
         "door \"d\": \"inside\" names no reader"},
        {"a zone without readers", three + "[[zone]]\nname = \"z\"\n", 11, "\"readers\" names no reader"},
        {"a zone name with a level separator", three + "[[zone]]\nname = \"dock/3\"\nreaders = [\"left\"]\n",
         12, "\"name\" in [[zone]] must not contain '/'"},
        {"a door name with a wildcard",
         three + "[[door]]\nname = \"d+\"\noutside = [\"yard\"]\ninside = [\"left\"]\n", 12,
         "\"name\" in [[door]] must not contain"},
        {"an empty zone name", three + "[[zone]]\nname = \"\"\nreaders = [\"left\"]\n", 12, "is empty"},
        {"two zones of one name",
         three +
             "[[zone]]\nname = \"z\"\nreaders = [\"left\"]\n[[zone]]\nname = \"z\"\nreaders = [\"yard\"]\n",
         15, "a second zone named \"z\" (the first is on line 11)"},
        {"two doors of one name",
         three + "[[door]]\nname = \"d\"\noutside = [\"yard\"]\ninside = [\"left\"]\n[[door]]\nname = \"d\"\n"
                 "outside = [\"yard\"]\ninside = [\"right\"]\n",
         16, "a second door named \"d\" (the first is on line 11)"},
        {"a reader named zones", "site = \"a\"\n[[reader]]\nname = \"zones\"\naddress = \"usb\"\n", 3,
         "a reader cannot be named \"zones\""},
        {"a reader named doors", "site = \"a\"\n[[reader]]\nname = \"doors\"\naddress = \"usb\"\n", 3,
         "a reader cannot be named \"doors\""},
        {"an unknown key in a zone", three + "[[zone]]\nname = \"z\"\nreaders = [\"left\"]\nabsence = 1\n",
         14, "unknown key \"absence\" in [[zone]]"},
        {"a settle time of zero",
         three + "[[door]]\nname = \"d\"\noutside = [\"yard\"]\ninside = [\"left\"]\nsettle_ms = 0\n", 15,
         "from 1 to"},
        {"history kept no day", "site = \"a\"\n[history]\nkeep_days = 0\n" + reader, 3, "from 1 to 3650"},
        {"unknown key in [history]", "site = \"a\"\n[history]\nkeep = 1\n" + reader, 3,
         "unknown key \"keep\" in [history]"},
        {"zone not a table list", "zone = \"z\"\n" + three, 1, "list of tables ([[zone]])"},
        // Profiles: their values with the words of a reader's, and the merged whole checked too.
        {"an unknown profile", "site = \"a\"\n" + profile + reader + "profile = \"dock-dor\"\n", 8,
         "reader \"g\": profile \"dock-dor\" is not defined (the profiles are \"dock\")"},
        {"a profile in a file without any", "site = \"a\"\n" + reader + "profile = \"dock\"\n", 5,
         "the file has no [[profile]]"},
        {"an unknown setting in a profile", "site = \"a\"\n" + profile + "powr = 3\n" + reader, 5,
         "profile \"dock\": [profile.settings]: unknown setting \"powr\""},
        {"a power no kind takes in a profile",
         "site = \"a\"\n[[profile]]\nname = \"p\"\n[profile.settings]\npower = 99\n" + reader, 5,
         "profile \"p\": [profile.settings]: power must be"},
        {"a profile's setting as true",
         "site = \"a\"\n[[profile]]\nname = \"p\"\n[profile.settings]\nbuzzer = true\n" + reader, 5,
         "must be a text or an integer"},
        {"the merged settings past the EPC window",
         "site = \"a\"\n[[profile]]\nname = \"p\"\n[profile.settings]\noutput-start = 10\n" + reader +
             "profile = \"p\"\n[reader.settings]\noutput-length = 4\n",
         9, "its settings with profile \"p\": output-start 10 with output-length 4 runs past"},
        {"two profiles with one name", "site = \"a\"\n" + profile + profile + reader, 5,
         "a second profile named \"dock\" (the first is on line 2)"},
        {"a profile without a name", "site = \"a\"\n[[profile]]\n" + reader, 2,
         "\"name\" in [[profile]] is missing"},
        {"a profile name with a slash", "site = \"a\"\n[[profile]]\nname = \"a/b\"\n" + reader, 3,
         "must not contain '/'"},
        {"unknown key in a profile", "site = \"a\"\n[[profile]]\nname = \"p\"\npower = 3\n" + reader, 4,
         "unknown key \"power\" in [[profile]]"},
        {"profile not a table list", "site = \"a\"\nprofile = 1\n" + reader, 2,
         "list of tables ([[profile]])"},
        {"a profile's settings not a table",
         "site = \"a\"\n[[profile]]\nname = \"p\"\nsettings = 1\n" + reader, 4,
         "must be a table ([profile.settings])"},
        {"a reader's profile not a text", "site = \"a\"\n" + reader + "profile = 1\n", 5, "must be a text"},
        // The broker's credentials.
        {"a password and a password file",
         "site = \"a\"\n[mqtt]\nusername = \"u\"\npassword = \"p\"\npassword_file = \"/p\"\n" + reader, 5,
         "\"password_file\" in [mqtt] and \"password\" are both given"},
        {"a password file without user", "site = \"a\"\n[mqtt]\npassword_file = \"/p\"\n" + reader, 3,
         "\"password_file\" in [mqtt] needs a \"username\""},
        {"a client key without its certificate", "site = \"a\"\n[mqtt]\nkey_file = \"/k\"\n" + reader, 3,
         "\"key_file\" in [mqtt] needs the other of \"cert_file\" and \"key_file\""},
        {"an output of an unknown kind", "site = \"a\"\n" + reader + hook + "kind = \"kafka\"\n", 7,
         "the kind of output is \"webhook\""},
        {"an output without a URL", "site = \"a\"\n" + reader + hook + "kind = \"webhook\"\n", 5,
         "\"url\" in [[output]] is missing"},
        {"a URL of another scheme",
         "site = \"a\"\n" + reader + hook + "kind = \"webhook\"\nurl = \"ftp://x\"\n", 8,
         "must be an http:// or https:// URL"},
        {"an unknown event kind", "site = \"a\"\n" + reader + webhook + "events = [\"read\", \"reads\"]\n", 9,
         "has \"reads\"; the kinds are read, arrived"},
        {"a batch of no events", "site = \"a\"\n" + reader + webhook + "batch_max = 0\n", 9,
         "from 1 to 10000"},
        {"a time-out of an hour", "site = \"a\"\n" + reader + webhook + "timeout_s = 3600\n", 9,
         "from 1 to 300"},
        {"a header the daemon writes",
         "site = \"a\"\n" + reader + webhook + "headers = { \"Content-Type\" = \"x\" }\n", 9,
         "is written by the daemon itself"},
        {"a header of two lines",
         "site = \"a\"\n" + reader + webhook + "headers = { \"X-A\" = \"a\\r\\nb: c\" }\n", 9,
         "must be one line"},
        {"a client certificate without its key",
         "site = \"a\"\n" + reader + webhook + "cert_file = \"/c.pem\"\n", 9, "needs the other of"},
        {"an unknown key in an output", "site = \"a\"\n" + reader + webhook + "secret = \"s\"\n", 9,
         "unknown key \"secret\" in [[output]]"},
        {"two outputs of one name", "site = \"a\"\n" + reader + webhook + webhook, 9,
         "a second output named \"w\""},
        {"an output named as the broker",
         "site = \"a\"\n" + reader + "[[output]]\nname = \"mqtt\"\nkind = \"webhook\"\nurl = \"http://x\"\n",
         6, "is the broker's own"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.what);
        try {
            ParseConfig(bad.text, CheckSchemes);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_EQ(error.line(), bad.line) << error.what();
            EXPECT_NE(error.reason().find(bad.reason), std::string::npos) << error.what();
        }
    }
}

// A webhook with every key; [mqtt] becomes optional once there is an output, and stays on by
// default without one.
TEST(ConfigTest, ReadsWebhookOutputs) {
    const std::string reader = kReader;
    const DaemonConfig config =
        ParseConfig("site = \"a\"\n" + reader +
                        "[[output]]\nname = \"wms\"\nkind = \"webhook\"\n"
                        "url = \"https://wms.example/rfid\"\nevents = [\"read\", \"arrived\"]\n"
                        "batch_ms = 250\nbatch_max = 50\ntimeout_s = 3\n"
                        "headers = { \"X-Site\" = \"dock-3\" }\nsecret_file = \"/s\"\n"
                        "ca_file = \"/ca\"\ncert_file = \"/c\"\nkey_file = \"/k\"\n",
                    CheckSchemes);
    EXPECT_FALSE(config.mqttEnabled);
    ASSERT_EQ(config.webhooks.size(), 1u);
    const WebhookConfig& wms = config.webhooks[0];
    EXPECT_EQ(wms.line, 5);
    EXPECT_EQ(wms.url, "https://wms.example/rfid");
    EXPECT_EQ(wms.events, (std::vector<std::string>{"read", "arrived"}));
    EXPECT_EQ(wms.batchMs, 250u);
    EXPECT_EQ(wms.batchMax, 50u);
    EXPECT_EQ(wms.timeoutS, 3u);
    EXPECT_EQ(wms.headers, (std::vector<std::pair<std::string, std::string>>{{"X-Site", "dock-3"}}));
    EXPECT_EQ(wms.secretFile, "/s");
    EXPECT_EQ(wms.keyFile, "/k");
    EXPECT_TRUE(ParseConfig("site = \"a\"\n" + reader, CheckSchemes).mqttEnabled);
    EXPECT_TRUE(ParseConfig("site = \"a\"\n[mqtt]\n" + reader +
                                "[[output]]\nname = \"w\"\nkind = \"webhook\"\nurl = \"http://x\"\n",
                            CheckSchemes)
                    .mqttEnabled);
    // The files an output names are checked by --check-config, with the output's line.
    const testing::TemporaryDirectory directory;
    std::ofstream(directory.File("empty"));
    DaemonConfig files = config;
    files.webhooks[0].caFile = files.webhooks[0].certFile = files.webhooks[0].keyFile = std::nullopt;
    files.webhooks[0].secretFile = directory.File("empty");
    ASSERT_TRUE(OutputFileProblem(files));
    EXPECT_EQ(OutputFileProblem(files)->line(), 5);
    EXPECT_NE(OutputFileProblem(files)->reason().find("secret_file " + directory.File("empty") + " is empty"),
              std::string::npos);
    files.webhooks[0].secretFile = directory.File("missing");
    EXPECT_NE(OutputFileProblem(files)->reason().find("cannot be read"), std::string::npos);
    std::ofstream(directory.File("secret")) << "s3cret\n";
    files.webhooks[0].secretFile = directory.File("secret");
    EXPECT_FALSE(OutputFileProblem(files));
}

TEST(ConfigTest, RefusesWhatIsNoConfigurationFile) {
    const testing::TemporaryDirectory directory;
    ASSERT_EQ(::mkfifo(directory.File("fifo").c_str(), 0600), 0);
    std::ofstream(directory.File("large")) << "site = \"a\"\n" << std::string(kConfigFileMaxBytes, '#');
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {"/nonexistent/zendrikd.toml", "cannot read /nonexistent/zendrikd.toml: No such file"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {directory.path(), "is not a regular file"},
        {directory.File("fifo"), "is not a regular file"},  // and no wait at its open
        {directory.File("large"), "is larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            LoadConfig(c.path, CheckSchemes);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_EQ(error.line(), 0);
            EXPECT_NE(error.reason().find(c.reason), std::string::npos) << error.what();
        }
    }
}

TEST(ConfigTest, WarnsOfAPasswordOthersMayReadAndChecksTheSpoolDirectory) {
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File("zendrikd.toml");
    struct Case {
        bool password;
        mode_t mode;
        bool warned;
    };
    for (const Case c : {Case{true, 0644, true}, Case{true, 0640, false}, Case{false, 0644, false}}) {
        SCOPED_TRACE(::testing::Message() << "password " << c.password << ", mode " << std::oct << c.mode);
        std::ofstream(path) << "site = \"a\"\n";
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        DaemonConfig config;
        if (c.password) {
            config.mqtt.username = "gate";
            config.mqtt.password = "secret";
        }
        const std::vector<std::string> warnings = ConfigFileWarnings(path, config);
        ASSERT_EQ(warnings.size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_NE(warnings[0].find(path + " holds the MQTT password"), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find("(mode 0644)"), std::string::npos) << warnings[0];
        }
    }

    EXPECT_EQ(SpoolDirectoryProblem(SpoolConfig{directory.File("spool.sqlite")}), std::nullopt);
    EXPECT_EQ(SpoolDirectoryProblem(SpoolConfig{directory.File("gone/spool.sqlite")}),
              "the spool's directory " + directory.File("gone") + " does not exist");
    EXPECT_EQ(SpoolDirectoryProblem(SpoolConfig{path + "/spool.sqlite"}),
              "the spool's directory " + path + " is not a directory");
}

// [mqtt] key_file and password_file: refused with their line and the reason when every user may
// read them, or when they cannot be read; the password taken from the file's first line.
TEST(ConfigTest, ChecksTheFilesOfTheBrokersSecrets) {
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File("zendrikd.toml");
    const std::string secret = directory.File("secret");
    struct Case {
        const char* what;
        const char* key;  // "key_file" or "password_file"
        const char* content;
        mode_t mode;
        std::string refusal;  // empty: accepted
    };
    const Case cases[] = {
        {"a key only its owner reads", "key_file", "KEY", 0600, ""},
        {"a key its group reads", "key_file", "KEY", 0640, ""},
        {"a key every user reads", "key_file", "KEY", 0644,
         "\"key_file\" in [mqtt]: " + secret + " may be read or written by every user (mode 0644)"},
        {"a password file every user may write", "password_file", "pw\n", 0602, "(mode 0602)"},
        {"a password file", "password_file", "s3cret\r\nsecond line\n", 0600, ""},
        {"an empty password file", "password_file", "\n", 0600, "holds no password on its first line"},
        {"a missing key", "key_file", nullptr, 0, "cannot read " + secret + ": No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(secret);
        if (c.content != nullptr) {
            std::ofstream(secret) << c.content;
            ASSERT_EQ(::chmod(secret.c_str(), c.mode), 0);
        }
        const bool key = std::string(c.key) == "key_file";
        std::ofstream(path) << "site = \"a\"\n[mqtt]\nusername = \"u\"\n"
                            << (key ? "cert_file = \"/c.pem\"\n" : "") << c.key << " = \"" << secret << "\"\n"
                            << kReader;
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        try {
            const DaemonConfig config = LoadConfig(path, CheckSchemes);
            EXPECT_TRUE(c.refusal.empty()) << "accepted";
            if (!key) {
                EXPECT_EQ(config.mqtt.password, "s3cret");
                EXPECT_TRUE(ConfigFileWarnings(path, config).empty()) << "the file holds no password";
            }
        } catch (const ConfigError& error) {
            EXPECT_EQ(error.line(), key ? 5 : 4) << error.what();
            EXPECT_FALSE(c.refusal.empty()) << error.what();
            EXPECT_NE(error.reason().find(c.refusal), std::string::npos) << error.what();
        }
    }
}

TEST(ConfigTest, ReadsTheHttpTableAndItsDefaults) {
    const DaemonConfig http =
        ParseConfig(std::string("site = \"a\"\n[http]\nlisten = \"[::]:9100\"\ntoken = \"t0ken\"\n"
                                "cert_file = \"/c.pem\"\nkey_file = \"/k.pem\"\n") +
                        kReader,
                    CheckSchemes);
    EXPECT_EQ(http.http.listen, "[::]:9100");
    EXPECT_EQ(http.http.token, "t0ken");
    EXPECT_EQ(http.http.certFile, "/c.pem");
    EXPECT_EQ(http.http.keyFile, "/k.pem");
    const DaemonConfig defaults = ParseConfig(std::string("site = \"a\"\n") + kReader, CheckSchemes);
    EXPECT_EQ(defaults.http.listen, "127.0.0.1:8765");
    EXPECT_FALSE(defaults.http.token);
    EXPECT_EQ(
        ParseConfig(std::string("site = \"a\"\n[http]\nlisten = \"\"\n") + kReader, CheckSchemes).http.listen,
        "");
}

// [[http.token]] with the secrets read from their files, [audit]; and every fault of theirs with
// its line: a token file others may read, missing, empty or short, one secret twice, a name twice,
// an unknown role, a reader named as the audit trail's stream, days kept out of range.
TEST(ConfigTest, ReadsTokensAndTheAuditTrailAndRefusesTheirFaults) {
    const testing::TemporaryDirectory directory;
    const auto tokenFile = [&](const std::string& name, const std::string& text, mode_t mode) {
        const std::string path = directory.File(name);
        std::ofstream(path) << text;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    };
    const std::string viewer = tokenFile("viewer", "viewer-secret-0123456789\n", 0600);
    const std::string admin = tokenFile("admin", "admin-secret-0123456789", 0400);
    const std::string open = tokenFile("open", "open-secret-0123456789\n", 0644);
    const std::string group = tokenFile("group", "group-secret-0123456789\n", 0640);
    const std::string shortOne = tokenFile("short", "short\n", 0600);
    const std::string spaced = tokenFile("spaced", "two words-0123456789\n", 0600);
    const auto token = [](const std::string& name, const std::string& file, const std::string& role) {
        return "[[http.token]]\nname = \"" + name + "\"\nfile = \"" + file + "\"\nrole = \"" + role + "\"\n";
    };
    const std::string top = "site = \"a\"\n[http]\nlisten = \"0.0.0.0:8765\"\n";  // lines 1-3
    const std::string reader = "[[reader]]\nname = \"g\"\naddress = \"usb\"\n";
    const auto load = [&](const std::string& text) {
        const std::string path = directory.File("zendrikd.toml");
        std::ofstream(path) << text;
        return LoadConfig(path, CheckSchemes);
    };

    const DaemonConfig good = load(top + token("wall-screen", viewer, "viewer") +
                                   token("chief", admin, "admin") + reader + "[audit]\nkeep_days = 30\n");
    ASSERT_EQ(good.http.tokens.size(), 2u);
    EXPECT_EQ(good.http.tokens[0],
              (HttpToken{"wall-screen", viewer, AccessRole::kViewer, 4, "viewer-secret-0123456789"}));
    EXPECT_EQ(good.http.tokens[1].role, AccessRole::kAdmin);
    EXPECT_EQ(good.http.tokens[1].secret, "admin-secret-0123456789");
    EXPECT_EQ(good.audit.keepDays, 30u);
    EXPECT_EQ(AuditPath(good.audit, good.spool), good.spool.path + ".audit");
    EXPECT_EQ(ParseConfig(std::string("site = \"a\"\n") + kReader, CheckSchemes).audit.keepDays, 365u);
    // systemd's credentials folder: root's file, which an ACL entry lets the daemon's user read.
    ASSERT_EQ(::setenv("CREDENTIALS_DIRECTORY", directory.path().c_str(), 1), 0);
    EXPECT_EQ(load(top + token("t", group, "viewer") + reader).http.tokens[0].secret,
              "group-secret-0123456789");
    ASSERT_EQ(::unsetenv("CREDENTIALS_DIRECTORY"), 0);

    struct Bad {
        const char* what;
        std::string text;
        int line;
        std::string reason;
    };
    const Bad cases[] = {
        {"readable by all", top + token("t", open, "viewer") + reader, 4,
         "token \"t\": " + open +
             " may be used by others than its owner (mode 0644): only its owner may read it"},
        {"readable by the group", top + token("t", group, "viewer") + reader, 4, "(mode 0640)"},
        {"missing", top + token("t", directory.File("none"), "viewer") + reader, 4,
         "cannot be read: No such file"},
        {"no regular file", top + token("t", directory.path(), "viewer") + reader, 4,
         "is not a regular file"},
        {"too short", top + token("t", shortOne, "viewer") + reader, 4,
         "at least 16 visible ASCII characters"},
        {"with a space", top + token("t", spaced, "viewer") + reader, 4, "without spaces"},
        {"one secret twice", top + token("t", viewer, "viewer") + token("u", viewer, "admin") + reader, 8,
         "token \"u\" is the same as token \"t\""},
        {"one name twice", top + token("t", viewer, "viewer") + token("t", admin, "admin") + reader, 8,
         "a second token named \"t\" (the first is on line 4)"},
        {"unknown role", top + token("t", viewer, "root") + reader, 7,
         "\"role\" in [[http.token]] is \"root\"; it takes \"viewer\", \"operator\" or \"admin\""},
        {"no file", top + "[[http.token]]\nname = \"t\"\nrole = \"admin\"\n" + reader, 4,
         "\"file\" in [[http.token]] is missing"},
        {"a list of texts", top + "token = [\"a\"]\n" + reader, 4, "must be a text or a list of tables"},
        {"outside the host without any token", top + reader, 3, "needs a \"token\""},
        {"a reader named audit",
         std::string("site = \"a\"\n[[reader]]\nname = \"audit\"\naddress = \"usb\"\n"), 2,
         "a reader must not be named \"audit\""},
        {"days kept out of range", std::string("site = \"a\"\n") + reader + "[audit]\nkeep_days = 0\n", 6,
         "\"keep_days\" in [audit] must be from 1 to 36500, not 0"},
        {"unknown key in [audit]", std::string("site = \"a\"\n") + reader + "[audit]\nkeep = 3\n", 6,
         "unknown key \"keep\" in [audit]"},
    };
    for (const Bad& bad : cases) {
        SCOPED_TRACE(bad.what);
        try {
            load(bad.text);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_EQ(error.line(), bad.line) << error.what();
            EXPECT_NE(error.reason().find(bad.reason), std::string::npos) << error.what();
            EXPECT_EQ(error.reason().find("secret-0123"), std::string::npos) << "never the token";
        }
    }
}

// --print-config gives back every section a site may have, as a file that reads to the same values.
TEST(ConfigTest, PrintedConfigReadsBackToTheSameSections) {
    const DaemonConfig config =
        ParseConfig(std::string(kThreeReaders) +
                        "[publish]\nbatch_ms = 100\nbatch_max = 50\n"
                        "[spool]\nmax_age = \"7d\"\nreplay_rate = 500\n"
                        "[audit]\nkeep_days = 30\n[history]\nkeep_days = 7\n"
                        "[[zone]]\nname = \"z\"\nreaders = [\"left\"]\n"
                        "[[door]]\nname = \"d\"\noutside = [\"yard\"]\ninside = [\"right\"]\n"
                        "[[output]]\nname = \"wms\"\nkind = \"webhook\"\n"
                        "url = \"http://127.0.0.1:9/x\"\nevents = [\"read\"]\n"
                        "headers = { \"X-Site\" = \"dock-3\" }\n",
                    CheckSchemes);
    const DaemonConfig again = ParseConfig(PrintedConfig(config), CheckSchemes);
    EXPECT_FALSE(again.mqttEnabled) << "a site of webhooks alone stays without a broker";
    EXPECT_EQ(again.publish, config.publish);
    EXPECT_EQ(again.spool, config.spool);
    EXPECT_EQ(again.audit, config.audit);
    EXPECT_EQ(again.history, config.history);
    EXPECT_EQ(again.webhooks.size(), 1u);
    EXPECT_EQ(again.webhooks.at(0).headers, config.webhooks.at(0).headers);
    EXPECT_EQ(again.webhooks.at(0).events, config.webhooks.at(0).events);
    ASSERT_EQ(again.zones.size(), 1u);
    ASSERT_EQ(again.doors.size(), 1u);
    EXPECT_EQ(again.zones[0].readers, config.zones[0].readers);
    EXPECT_EQ(again.doors[0].inside, config.doors[0].inside);
}

}  // namespace
}  // namespace zendrik::daemon
