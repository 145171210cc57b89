// The configuration reader: a good file read whole, and every kind of bad file refused with the
// line it was found on and the reason.
#include <gtest/gtest.h>

#include "daemon/config.h"

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
    EXPECT_EQ(config.spool.maxMessages, 10u);
    ASSERT_EQ(config.readers.size(), 2u);
    EXPECT_EQ(config.readers[0].absenceMs, 1500u);
    EXPECT_EQ(config.readers[1].name, "gate-2");
    EXPECT_EQ(config.readers[1].absenceMs, 3000u);
    EXPECT_EQ(config.readers[1].line, 18);
}

struct BadFile {
    const char* what;
    std::string text;
    int line;
    const char* reason;  // a part of the reason
};

constexpr const char* kReader = "[[reader]]\nname = \"g\"\naddress = \"usb\"\n";

TEST(ConfigTest, RefusesBadFilesWithLineAndReason) {
    const std::string reader = kReader;
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

TEST(ConfigTest, UnreadableFileIsRefused) {
    EXPECT_THROW(LoadConfig("/nonexistent/zendrikd.toml", CheckSchemes), ConfigError);
}

}  // namespace
}  // namespace zendrik::daemon
