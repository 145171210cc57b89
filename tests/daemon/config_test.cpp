// The configuration reader: a good file read whole, and every kind of bad file refused with the
// line it was found on and the reason; files that are no configuration, a password others may
// read, and a spool directory that cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "daemon/config/config.h"
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
[spool]
path = "/tmp/spool.sqlite"
max_messages = 10
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
    ASSERT_EQ(config.readers.size(), 2u);
    EXPECT_EQ(config.readers[0].absenceMs, 1500u);
    EXPECT_EQ(config.readers[1].name, "gate-2");
    EXPECT_EQ(config.readers[1].absenceMs, 3000u);
    EXPECT_EQ(config.readers[1].line, 19);
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

struct BadFile {
    const char* what;
    std::string text;
    int line;
    std::string reason;  // a part of the reason
};

constexpr const char* kReader = "[[reader]]\nname = \"g\"\naddress = \"usb\"\n";

TEST(ConfigTest, RefusesBadFilesWithLineAndReason) {
    const std::string reader = kReader;
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
        {"unknown key in [control]", "site = \"a\"\n[control]\ncommand = \"all\"\n" + reader, 3,
         "unknown key \"command\" in [control]"},
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

}  // namespace
}  // namespace zendrik::daemon
