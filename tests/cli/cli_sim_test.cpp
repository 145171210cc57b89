// The zendrik program against the virtual reader, over every link: what it prints, what it writes
// to the reader, and how it fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/cli/subprocess.h"
#include "tests/link/hid_socket_peer.h"

namespace zendrik::testing {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
const std::string kTagA = "00112233445566778899AABB";
const std::string kTagB = "300833B2DDD9014000000001";

enum class Link { kUsb, kSerialPath, kSerialCom, kUdp };

std::string LinkName(Link link) {
    switch (link) {
        case Link::kUsb:
            return "usb";
        case Link::kSerialPath:
            return "serial";
        case Link::kSerialCom:
            return "com";
        case Link::kUdp:
            break;
    }
    return "udp";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A temporary directory for the reader's HID socket, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zendrik-cli-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// zendrik-sim serving all three links, and the zendrik program pointed at it.
class SimReader {
  public:
    explicit SimReader(std::vector<std::string> options = {"--tag", kTagA})
        : sim_(Arguments(options)), lines_(sim_.ReadLines(3)) {
        for (const std::string& line : lines_) {
            const std::size_t equals = line.find('=');
            const std::string name = line.substr(0, equals);
            const std::string value = line.substr(equals + 1);
            if (name == "ZENDRIK_SIM_UDP") {
                udp_ = value;
            } else {
                environment_[name] = value;
            }
        }
    }

    bool ready() const {
        return environment_.count("ZENDRIK_HID_SOCKET") && environment_.count("ZENDRIK_COM1") &&
               !udp_.empty();
    }

    ProcessResult Zendrik(Link link, std::vector<std::string> arguments) const {
        std::vector<std::string> argv{ZENDRIK_CLI_PATH};
        switch (link) {
            case Link::kSerialPath:
                argv.insert(argv.end(), {"--serial", environment_.at("ZENDRIK_COM1")});
                break;
            case Link::kSerialCom:
                argv.insert(argv.end(), {"--serial", "COM1"});
                break;
            case Link::kUdp:
                argv.insert(argv.end(), {"--udp", udp_});
                break;
            case Link::kUsb:
                break;
        }
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProcess(argv, environment_);
    }

    // The reader's address over a link, as --reader takes it.
    std::string Address(Link link) const {
        switch (link) {
            case Link::kSerialPath:
                return "serial:" + environment_.at("ZENDRIK_COM1");
            case Link::kSerialCom:
                return "serial:COM1";
            case Link::kUdp:
                return "udp:" + udp_;
            case Link::kUsb:
                break;
        }
        return "usb:" + environment_.at("ZENDRIK_HID_SOCKET");
    }

    nlohmann::json Config(Link link = Link::kUsb) const {
        const ProcessResult config = Zendrik(link, {"config", "--json"});
        EXPECT_EQ(config.status, kExitOk) << config.err;
        return nlohmann::json::parse(config.out, nullptr, false);
    }

  private:
    std::vector<std::string> Arguments(const std::vector<std::string>& options) const {
        std::vector<std::string> argv{ZENDRIK_SIM_PATH, "--hid-socket", (dir_.path() / "hid").string(),
                                      "--pty",          "--udp",        "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
    }

    TempDir dir_;
    BackgroundProcess sim_;
    std::vector<std::string> lines_;
    Environment environment_;
    std::string udp_;
};

// Runs `lane(0)` .. `lane(count - 1)` on threads of their own and waits for all: runs of the
// program that mostly wait for the reader overlap.
void RunInLanes(std::size_t count, const std::function<void(std::size_t)>& lane) {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        threads.emplace_back(lane, i);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// ---- every link ---------------------------------------------------------------------------------

class OverEveryLink : public ::testing::TestWithParam<Link> {
  protected:
    void SetUp() override { ASSERT_TRUE(reader.ready()); }
    ProcessResult Zendrik(std::vector<std::string> arguments) {
        return reader.Zendrik(GetParam(), arguments);
    }
    SimReader reader{{"--tag", kTagA, "--tag", kTagB}};
};

TEST_P(OverEveryLink, InfoShowsKindVersionAndSerialNumber) {
    const ProcessResult info = Zendrik({"info"});
    ASSERT_EQ(info.status, kExitOk) << info.err;
    EXPECT_THAT(info.out, AllOf(ContainsRegex("reader-kind +0\n"), ContainsRegex("version +[^\n]+\n"),
                                ContainsRegex("serial-number +SN:[0-9a-f]{24}\n")));
    EXPECT_EQ(info.err, "");
}

// Both ways of naming a serial port read COM names alike, in any letter case; the JSON gives the
// serial number bare, as every other program does, beside the form the text shows.
TEST(ZendrikInfo, ComNamesInAnyCaseAndTheSerialNumberBare) {
    SimReader reader;
    ASSERT_TRUE(reader.ready());
    // No link options for Link::kUsb: the reader's environment maps COM1 to its serial line.
    for (const std::vector<std::string>& link : {std::vector<std::string>{"--reader", "serial:com1"},
                                                 std::vector<std::string>{"--serial", "com1"}}) {
        std::vector<std::string> arguments = link;
        arguments.insert(arguments.end(), {"info", "--json"});
        const ProcessResult info = reader.Zendrik(Link::kUsb, arguments);
        ASSERT_EQ(info.status, kExitOk) << ::testing::PrintToString(link) << info.err;
        const nlohmann::json json = nlohmann::json::parse(info.out, nullptr, false);
        EXPECT_THAT(json["serial"].get<std::string>(), MatchesRegex("[0-9a-f]{24}"));
        EXPECT_EQ(json["serial-number"], "SN:" + json["serial"].get<std::string>());
    }
}

TEST_P(OverEveryLink, ConfigAsJsonParsesBackWithEverySetting) {
    const nlohmann::json config = reader.Config(GetParam());
    ASSERT_TRUE(config.is_object());
    for (const char* name : {"buzzer", "work-mode", "trigger-time", "wiegand-interval", "wiegand-format",
                             "output-start", "output-length", "output-order", "password", "password-check",
                             "address", "read-interval", "power", "frequency", "band"}) {
        EXPECT_TRUE(config.contains(name)) << name;
    }
    EXPECT_EQ(config["reader-kind"], 0);
    EXPECT_TRUE(config["power"].is_number());
    EXPECT_TRUE(config["buzzer"].is_string());
    EXPECT_FALSE(config.contains("channels"));
}

TEST_P(OverEveryLink, SetWritesReadsBackAndConfigShowsTheValues) {
    const ProcessResult set = Zendrik({"set", "power=20", "buzzer=off"});
    ASSERT_EQ(set.status, kExitOk) << set.err;
    EXPECT_THAT(Lines(set.out), ElementsAre(MatchesRegex("power +20"), MatchesRegex("buzzer +off")));
    const nlohmann::json config = reader.Config(GetParam());
    EXPECT_EQ(config["power"], 20);
    EXPECT_EQ(config["buzzer"], "off");
}

TEST_P(OverEveryLink, ReadCountPrintsOneCsvRowPerReadWithARunningCountPerCard) {
    const ProcessResult read = Zendrik({"read", "--count", "3", "--format", "csv"});
    ASSERT_EQ(read.status, kExitOk) << read.err;
    // The field's two tags are read in turn; the reader puts out 3 bytes from byte 9 (Wiegand 26).
    // Every read carries the reader's id (its serial number), its own seq and the antenna and
    // signal strength a kind-0 reader sends; an arrival before each first read is not printed.
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z";
    const std::string read0 = "read,[0-9a-f]{24},[0-9]+," + stamp;
    EXPECT_THAT(
        Lines(read.out),
        ElementsAre("event,reader,seq,time,epc,card,count,first_seen,last_seen,antenna,rssi,error",
                    MatchesRegex(read0 + ",00112233445566778899aabb,10070715,1," + stamp + ",,1,[0-9]+,"),
                    MatchesRegex(read0 + ",300833b2ddd9014000000001,00000001,1," + stamp + ",,1,[0-9]+,"),
                    MatchesRegex(read0 + ",00112233445566778899aabb,10070715,2," + stamp + ",,1,[0-9]+,")));
}

TEST_P(OverEveryLink, TracePrintsEveryFrameAsATimeStampedHexLine) {
    const ProcessResult info = Zendrik({"--trace", "info"});
    ASSERT_EQ(info.status, kExitOk) << info.err;
    const std::string link = GetParam() == Link::kUdp ? "udp" : GetParam() == Link::kUsb ? "usb" : "serial";
    const std::vector<std::string> lines = Lines(info.err);
    ASSERT_GE(lines.size(), 4u);
    // The handshake and its answer come first, on every link.
    EXPECT_THAT(lines[0], MatchesRegex(".*T[0-9:.]+ " + link + " TX AA FF DC 01 00 01 BF 84 55"));
    EXPECT_THAT(lines[1], MatchesRegex(".* " + link + " RX AA [0-9A-F]{2} C8 01 00 [0-9A-F ]+ 55"));
    for (const std::string& line : lines) {
        EXPECT_THAT(line, MatchesRegex(".* " + link + " (TX|RX)( [0-9A-F]{2})+"));
    }
}

INSTANTIATE_TEST_SUITE_P(Links, OverEveryLink,
                         ::testing::Values(Link::kUsb, Link::kSerialPath, Link::kSerialCom, Link::kUdp),
                         [](const ::testing::TestParamInfo<Link>& info) { return LinkName(info.param); });

// ---- failures -----------------------------------------------------------------------------------

TEST(ZendrikFailures, WithoutAReaderExitsWithTheResultInWords) {
    SimReader silent({"--fault", "silence"});
    ASSERT_TRUE(silent.ready());
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        Environment environment;
        std::string message;
    };
    const std::vector<Case> cases{
        {"no USB reader",
         {ZENDRIK_CLI_PATH, "info"},
         {{"ZENDRIK_HID_SOCKET", "/nonexistent/hid"}},
         "zendrik: cannot open the link: no USB reader was found (-136)\n"},
        {"no serial device",
         {ZENDRIK_CLI_PATH, "--serial", "/nonexistent/tty", "config"},
         {},
         "zendrik: cannot open the link: the serial port could not be opened (-32): /nonexistent/tty: No "
         "such "
         "file or directory\n"},
        {"a COM name's device",
         {ZENDRIK_CLI_PATH, "--reader", "serial:com9", "info"},
         {{"ZENDRIK_COM9", "/nonexistent/com9"}},
         "zendrik: cannot open the link: the serial port could not be opened (-32): /nonexistent/com9: No "
         "such "
         "file or directory\n"},
        {"one of several readers, named",
         {ZENDRIK_CLI_PATH, "--reader", "a=usb:/nonexistent/hid", "--reader", "b=udp:127.0.0.1:1", "read"},
         {},
         "zendrik: a: cannot open the link: no USB reader was found (-136): /nonexistent/hid: No such file "
         "or "
         "directory\n"},
        {"one of several readers, by its address",
         {ZENDRIK_CLI_PATH, "--reader", "udp:127.0.0.1:9", "--reader", "usb", "read", "--count", "2"},
         {},
         "zendrik: udp:127.0.0.1:9: no reply arrived over UDP (-145)\n"},
        {"nobody on the UDP port",
         {ZENDRIK_CLI_PATH, "--udp", "127.0.0.1:9", "info"},
         {},
         "zendrik: no reply arrived over UDP (-145)\n"},
        {"no such hidraw node",
         {ZENDRIK_CLI_PATH, "--reader", "usb:/nonexistent/hidraw9", "config"},
         {},
         "zendrik: cannot open the link: no USB reader was found (-136): /nonexistent/hidraw9: No such file "
         "or "
         "directory\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = RunProcess(c.argv, c.environment);
        EXPECT_EQ(result.status, kExitFailure) << c.name;
        EXPECT_EQ(result.err, c.message) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
    }
    // A reader that stays silent: the link opens, the handshake gets no answer, which the link's
    // failure tells.
    const std::vector<std::pair<Link, std::string>> silences{
        {Link::kUsb, "zendrik: the reply was missing or damaged (-82)\n"},
        {Link::kSerialPath, "zendrik: no reply arrived on the serial line (136)\n"}};
    for (const auto& [link, message] : silences) {
        const ProcessResult result = silent.Zendrik(link, {"read", "--count", "1"});
        EXPECT_EQ(result.status, kExitFailure) << LinkName(link);
        EXPECT_EQ(result.err, message) << LinkName(link);
    }
    // A reader that answers everything but tag reads: counted reads end once the link counts as
    // lost (three rounds without an answer).
    SimReader mute({"--tag", kTagA, "--fault", "silence@0xF6"});
    ASSERT_TRUE(mute.ready());
    const ProcessResult unanswered = mute.Zendrik(Link::kUsb, {"read", "--count", "1"});
    EXPECT_EQ(unanswered.status, kExitFailure);
    EXPECT_EQ(unanswered.err, "zendrik: reading a tag failed: the reply was missing or damaged (-82)\n");
    EXPECT_EQ(unanswered.out, "");
}

TEST(ZendrikFailures, BadCommandLinesAreRefusedWithUsageStatus) {
    const std::vector<std::vector<std::string>> commandLines{
        {},
        {"frobnicate"},
        {"set"},
        {"--udp", "localhost:5000", "info"},
        {"--udp", "127.0.0.1:0", "info"},
        {"--baud", "9600", "info"},
        {"--usb", "--serial", "COM1", "info"},
        {"read", "--count", "0"},
        {"read", "--count", "2", "--watch"},
        {"read", "--wiegand", "32"},
        {"read", "--epc", "10:3"},
        {"read", "--wiegand", "26", "--epc", "0:4"},
        {"read", "--format", "xml"},
        {"read", "--absence", "0"},
        {"--baud", "4800", "--serial", "COM1", "info"},
    };
    for (const std::vector<std::string>& arguments : commandLines) {
        std::vector<std::string> argv{ZENDRIK_CLI_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessResult result = RunProcess(argv, {{"ZENDRIK_HID_SOCKET", "/nonexistent/hid"}});
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(arguments) << result.err;
        EXPECT_NE(result.err, "") << ::testing::PrintToString(arguments);
    }
}

TEST(ZendrikFailures, RefusedCommandLinesSayWhy) {
    struct Case {
        std::vector<std::string> arguments;
        const char* reason;
    };
    const std::vector<Case> cases{
        {{"--reader", "", "info"}, "the address is empty"},
        {{"--reader", "bluetooth:00:11", "info"}, "unknown reader kind \"bluetooth\""},
        {{"--reader", "usb:", "info"}, "usb: needs the path"},
        {{"--reader", "serial:COM21", "read"}, "\"COM21\" is not one of COM1..COM20"},
        {{"--reader", "serial:/dev/ttyUSB0?baud=4800", "read"}, "baud \"4800\" is not one of"},
        {{"--reader", "udp:reader.local:27001", "info"}, "is not a dotted IPv4 address"},
        {{"--reader", "udp:127.0.0.1:27001?remote=1.2.3.4:5", "info"}, "expected ?local="},
        {{"--reader", "gate=udp:127.0.0.1", "read"}, "is not HOST:PORT"},
        {{"--reader", "=usb", "read"}, "the reader name before '=' is empty"},
        {{"--reader", "usb", "--reader", "usb:/dev/hidraw1", "config"}, "config works on one reader"},
        {{"--reader", "usb", "--serial", "COM1", "info"}, "--reader excludes --serial"},
        {{"--serial", "com21", "info"}, "\"com21\" is not one of COM1..COM20"},
        {{"read", "--count", "0"}, "--count must be at least 1\n"},
        {{"read", "--timeout", "-1"}, "--timeout must not be negative\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{ZENDRIK_CLI_PATH};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult result = RunProcess(argv, {{"ZENDRIK_HID_SOCKET", "/nonexistent/hid"}});
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(c.arguments) << result.err;
        EXPECT_THAT(result.err, HasSubstr(c.reason)) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result.out, "") << ::testing::PrintToString(c.arguments);
    }
}

TEST(ZendrikFailures, EveryCommandHasHelp) {
    for (const char* subcommand : {"info", "config", "set", "default", "read", "discover"}) {
        const ProcessResult help = RunProcess({ZENDRIK_CLI_PATH, subcommand, "--help"});
        EXPECT_EQ(help.status, kExitOk) << subcommand;
        EXPECT_THAT(help.out, HasSubstr(std::string("Usage: zendrik ") + subcommand)) << subcommand;
    }
}

// ---- set, default -------------------------------------------------------------------------------

TEST(ZendrikSet, RefusedValuesWriteNothing) {
    SimReader reader;
    ASSERT_TRUE(reader.ready());
    const nlohmann::json before = reader.Config();
    const std::vector<std::vector<std::string>> refused{
        {"power=34"},
        {"power=twenty"},
        {"buzzer=maybe"},
        {"trigger-time=0"},
        {"trigger-time=255"},
        {"wiegand-interval=0"},
        {"wiegand-interval=21"},
        {"read-interval=256"},
        {"address=-1"},
        {"output-start=12"},
        {"output-start=10"},  // with the reader's 3 bytes, past the 12-byte window
        {"output-start=8", "output-length=5"},
        {"output-length=0"},
        {"wiegand-format=30"},
        {"password=1234567"},
        {"password=1234567g"},
        {"frequency=902000-868000"},
        {"frequency=902250-904000"},
        {"frequency=865000-902000"},
        {"channels=1-63"},
        {"band=etsi"},
        {"nosuch=1"},
        {"power"},
        {"buzzer=on", "power=20", "buzzer=off"},
    };
    // Each run waits for the reader to settle after its handshake: the cases go to the one virtual
    // reader over several links at once (UDP serves any number of senders).
    const std::vector<Link> lanes{Link::kUsb, Link::kSerialPath, Link::kUdp,
                                  Link::kUdp, Link::kUdp,        Link::kUdp};
    RunInLanes(lanes.size(), [&](std::size_t lane) {
        for (std::size_t i = lane; i < refused.size(); i += lanes.size()) {
            std::vector<std::string> arguments{"set"};
            arguments.insert(arguments.end(), refused[i].begin(), refused[i].end());
            const ProcessResult set = reader.Zendrik(lanes[lane], arguments);
            EXPECT_EQ(set.status, kExitUsage) << ::testing::PrintToString(refused[i]);
            EXPECT_THAT(set.err, HasSubstr("nothing was written")) << ::testing::PrintToString(refused[i]);
        }
    });
    EXPECT_EQ(reader.Config(), before);
}

TEST(ZendrikSet, AcceptsTheEdgesOfTheToolsRanges) {
    SimReader reader;
    ASSERT_TRUE(reader.ready());
    const ProcessResult set =
        reader.Zendrik(Link::kUsb, {"set", "trigger-time=254", "wiegand-interval=20", "read-interval=0",
                                    "address=0", "power=0", "wiegand-format=34", "output-start=8",
                                    "output-order=inverted", "password=0a1B2c3D", "password-check=on",
                                    "work-mode=trigger", "frequency=865000-868000"});
    ASSERT_EQ(set.status, kExitOk) << set.err;
    const nlohmann::json config = reader.Config();
    EXPECT_EQ(config["trigger-time"], 254);
    EXPECT_EQ(config["wiegand-interval"], 20);
    EXPECT_EQ(config["read-interval"], 0);
    EXPECT_EQ(config["address"], 0);
    EXPECT_EQ(config["power"], 0);
    EXPECT_EQ(config["wiegand-format"], 34);
    EXPECT_EQ(config["output-start"], 8);
    EXPECT_EQ(config["output-length"], 4);  // follows the new Wiegand format
    EXPECT_EQ(config["output-order"], "inverted");
    EXPECT_EQ(config["password"], "0a1b2c3d");
    EXPECT_EQ(config["password-check"], "on");
    EXPECT_EQ(config["work-mode"], "trigger");
    EXPECT_EQ(config["frequency"], "865000-868000");
    EXPECT_EQ(config["band"], "etsi");
}

TEST(ZendrikSet, PowerAndFrequencyFollowTheReaderKind) {
    // Kinds 1 and 2 on virtual readers of their own, at once.
    const std::function<void()> kindOne = [] {
        SimReader kind1({"--kind", "1"});
        ASSERT_TRUE(kind1.ready());
        EXPECT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=17"}).status, kExitUsage);
        EXPECT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=27"}).status, kExitUsage);
        ASSERT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=18"}).status, kExitOk);
        EXPECT_EQ(kind1.Config()["power"], 18);
    };
    const std::function<void()> kindTwo = [] {
        SimReader kind2({"--kind", "2"});
        ASSERT_TRUE(kind2.ready());
        EXPECT_EQ(kind2.Zendrik(Link::kUsb, {"set", "frequency=902000-928000"}).status, kExitUsage);
        EXPECT_EQ(kind2.Zendrik(Link::kUsb, {"set", "channels=0-63"}).status, kExitUsage);
        const ProcessResult set = kind2.Zendrik(Link::kUsb, {"set", "channels=5-20", "power=63"});
        ASSERT_EQ(set.status, kExitOk) << set.err;
        const nlohmann::json config = kind2.Config();
        EXPECT_EQ(config["channels"], "5-20");
        EXPECT_EQ(config["power"], 63);
        EXPECT_FALSE(config.contains("frequency"));
    };
    RunInLanes(2, [&](std::size_t lane) { lane == 0 ? kindOne() : kindTwo(); });
}

TEST(ZendrikDefault, RestoresTheToolsFactoryValuesByReaderKind) {
    struct Case {
        const char* kind;
        std::vector<std::string> changes;
        const char* planName;
        const char* plan;
        int power;
    };
    const std::vector<Case> cases{
        // The reader's own reset comes first and puts it back on the FCC band, which then stays.
        {"0", {"power=20", "frequency=865000-866000"}, "frequency", "902000-928000", 33},
        {"1", {"power=20", "frequency=903000-904000"}, "frequency", "902000-928000", 26},
        {"2", {"power=20", "channels=3-9"}, "channels", "1-63", 63},
    };
    // Each kind on a virtual reader of its own, all at once.
    RunInLanes(cases.size(), [&cases](std::size_t lane) {
        const Case& c = cases[lane];
        SimReader reader({"--kind", c.kind});
        ASSERT_TRUE(reader.ready());
        std::vector<std::string> set{"set",
                                     "address=7",
                                     "trigger-time=9",
                                     "wiegand-interval=5",
                                     "output-start=0",
                                     "wiegand-format=34",
                                     "work-mode=trigger"};
        set.insert(set.end(), c.changes.begin(), c.changes.end());
        ASSERT_EQ(reader.Zendrik(Link::kUsb, set).status, kExitOk) << c.kind;
        const ProcessResult restored = reader.Zendrik(Link::kUsb, {"default"});
        ASSERT_EQ(restored.status, kExitOk) << c.kind << restored.err;
        EXPECT_THAT(restored.out, StartsWith("factory defaults restored")) << c.kind;
        const nlohmann::json config = reader.Config();
        EXPECT_EQ(config["address"], 1) << c.kind;
        EXPECT_EQ(config["trigger-time"], 3) << c.kind;
        EXPECT_EQ(config["wiegand-interval"], 2) << c.kind;
        EXPECT_EQ(config["wiegand-format"], 26) << c.kind;
        EXPECT_EQ(config["work-mode"], "always") << c.kind;
        EXPECT_EQ(config[c.planName], c.plan) << c.kind;
        EXPECT_EQ(config["power"], c.power) << c.kind;
    });
}

// ---- read ---------------------------------------------------------------------------------------

TEST(ZendrikRead, CardNumbersFollowTheFormatTheStartByteAndTheOrder) {
    struct Case {
        std::vector<std::string> settings;
        std::vector<std::string> options;
        const char* card;
    };
    const std::vector<Case> cases{
        {{"output-start=2", "output-order=forward"}, {}, "02241348"},                     // 22 33 44
        {{"output-start=2", "output-order=forward"}, {"--wiegand", "34"}, "0573785173"},  // 22 33 44 55
        {{"output-start=2", "output-order=forward"}, {"--epc", "1:3"}, "112233"},
        {{"output-start=2", "output-order=inverted"}, {}, "04469538"},  // 44 33 22
        {{"output-start=2", "output-order=inverted"}, {"--epc", "1:3"}, "332211"},
        {{"output-start=0", "wiegand-format=34", "output-order=forward"},
         {},
         "0001122867"},  // 00 11 22 33, the reader's format
        {{"output-start=9", "wiegand-format=26"}, {"--epc", "0:12"}, "00112233445566778899aabb"},
    };
    // Each case on a virtual reader of its own, all at once.
    RunInLanes(cases.size(), [&cases](std::size_t lane) {
        const Case& c = cases[lane];
        SimReader reader;  // one tag: 00 11 22 33 44 55 66 77 88 99 AA BB
        ASSERT_TRUE(reader.ready());
        std::vector<std::string> set{"set"};
        set.insert(set.end(), c.settings.begin(), c.settings.end());
        ASSERT_EQ(reader.Zendrik(Link::kUsb, set).status, kExitOk);
        std::vector<std::string> read{"read", "--format", "json"};
        read.insert(read.end(), c.options.begin(), c.options.end());
        const ProcessResult result = reader.Zendrik(Link::kUsb, read);
        ASSERT_EQ(result.status, kExitOk) << result.err;
        const nlohmann::json row = nlohmann::json::parse(result.out, nullptr, false);
        EXPECT_EQ(row["card"], c.card)
            << ::testing::PrintToString(c.settings) << ::testing::PrintToString(c.options);
        EXPECT_EQ(row["event"], "read");
        EXPECT_EQ(row["count"], 1);
        EXPECT_EQ(row["epc"], "00112233445566778899aabb");
    });
}

TEST(ZendrikRead, AWiegandNumberPastTheEpcWindowIsRefusedBeforeReading) {
    SimReader reader;
    ASSERT_TRUE(reader.ready());
    // The reader's start byte 9 leaves room for Wiegand 26's 3 bytes, not for Wiegand 34's 4.
    const ProcessResult read = reader.Zendrik(Link::kUsb, {"read", "--wiegand", "34"});
    EXPECT_EQ(read.status, kExitUsage);
    EXPECT_THAT(read.err, HasSubstr("output-start 9 leaves no room"));
}

TEST(ZendrikRead, CountNotReachedInTimeIsAFailure) {
    SimReader empty(std::vector<std::string>{});
    ASSERT_TRUE(empty.ready());
    const ProcessResult count = empty.Zendrik(Link::kUsb, {"read", "--count", "1", "--timeout", "0.5"});
    EXPECT_EQ(count.status, kExitFailure);
    EXPECT_EQ(count.err, "zendrik: only 0 of 1 tags read in 0.5 s\n");
    const ProcessResult watch =
        empty.Zendrik(Link::kUsb, {"read", "--watch", "--timeout", "0.5", "--format", "csv"});
    EXPECT_EQ(watch.status, kExitOk) << watch.err;
    EXPECT_EQ(watch.out, "event,reader,seq,time,epc,card,count,first_seen,last_seen,antenna,rssi,error\n");
    EXPECT_EQ(watch.err, "zendrik: stopped after 0 reads (0 arrivals)\n");
}

// A line's reader and EPC, in each output format.
struct ReaderAndEpc {
    std::string reader;
    std::string epc;
};

std::optional<ReaderAndEpc> FromJson(const std::string& line) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object() || event["event"] != "read") {
        return std::nullopt;
    }
    return ReaderAndEpc{event["reader"], event["epc"]};
}

std::optional<ReaderAndEpc> FromCsv(const std::string& line) {
    std::vector<std::string> fields{""};
    for (const char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    if (fields.size() != 12 || fields[0] != "read") {
        return std::nullopt;
    }
    return ReaderAndEpc{fields[1], fields[4]};
}

std::optional<ReaderAndEpc> FromText(const std::string& line) {
    std::smatch match;
    static const std::regex kTextRead(
        "[0-9T:.-]+  (.+)  card [0-9]+  count [0-9]+  epc ([0-9a-f]+)  antenna [0-9]+  rssi [0-9]+");
    if (!std::regex_match(line, match, kTextRead)) {
        return std::nullopt;
    }
    return ReaderAndEpc{match[1], match[2]};
}

TEST(ZendrikRead, SeveralReadersInOneRunEachLineNamingItsReader) {
    SimReader first({"--serial", "1", "--tag", kTagA});
    SimReader second({"--serial", "2", "--tag", kTagB});
    SimReader third({"--serial", "3", "--tag", "E2801160600002054E5C1BE3"});
    ASSERT_TRUE(first.ready() && second.ready() && third.ready());
    // Each over a link of its own kind; the second and third named.
    const std::vector<std::string> readers{"--reader", first.Address(Link::kUsb),
                                           "--reader", "dock 4=" + second.Address(Link::kSerialPath),
                                           "--reader", "gate=" + third.Address(Link::kUdp)};
    const std::map<std::string, std::string> epcOf{{"000000000000000000000001", "00112233445566778899aabb"},
                                                   {"dock 4", "300833b2ddd9014000000001"},
                                                   {"gate", "e2801160600002054e5c1be3"}};
    struct Case {
        const char* format;
        std::optional<ReaderAndEpc> (*parse)(const std::string&);
        std::size_t headerLines;
    };
    for (const Case& c : {Case{"json", FromJson, 0}, Case{"csv", FromCsv, 1}, Case{"text", FromText, 0}}) {
        std::vector<std::string> argv{ZENDRIK_CLI_PATH};
        argv.insert(argv.end(), readers.begin(), readers.end());
        argv.insert(argv.end(), {"read", "--count", "2", "--format", c.format});
        const ProcessResult read = RunProcess(argv);
        ASSERT_EQ(read.status, kExitOk) << c.format << read.err;
        const std::vector<std::string> lines = Lines(read.out);
        ASSERT_EQ(lines.size(), c.headerLines + 6) << c.format << read.out;
        std::map<std::string, int> reads;
        for (std::size_t i = c.headerLines; i < lines.size(); ++i) {
            const std::optional<ReaderAndEpc> line = c.parse(lines[i]);
            ASSERT_TRUE(line) << c.format << ": " << lines[i];
            ASSERT_TRUE(epcOf.count(line->reader)) << c.format << ": " << lines[i];
            EXPECT_EQ(line->epc, epcOf.at(line->reader)) << c.format << ": " << lines[i];
            ++reads[line->reader];
        }
        for (const auto& [reader, epc] : epcOf) {
            EXPECT_EQ(reads[reader], 2) << c.format << " " << reader;
        }
    }
    // Two ways to the same reader give one id twice: the lines could not be told apart.
    const ProcessResult twice = RunProcess({ZENDRIK_CLI_PATH, "--reader", first.Address(Link::kUsb),
                                            "--reader", first.Address(Link::kSerialPath), "read"});
    EXPECT_EQ(twice.status, kExitUsage);
    EXPECT_THAT(twice.err, HasSubstr("two readers go by the id \"000000000000000000000001\""));
}

// ---- read --watch through a reader stopped and started again ---------------------------------

// zendrik-sim on a HID socket of its own, which can be stopped and started again on the same path.
class RestartableSim {
  public:
    RestartableSim(std::filesystem::path socket, std::vector<std::string> options)
        : socket_(std::move(socket)), options_(std::move(options)) {
        Start();
    }
    std::string address() const { return "usb:" + socket_.string(); }
    void Stop() { sim_.reset(); }
    void Start() {
        std::vector<std::string> argv{ZENDRIK_SIM_PATH, "--hid-socket", socket_.string()};
        argv.insert(argv.end(), options_.begin(), options_.end());
        sim_ = std::make_unique<BackgroundProcess>(argv);
        sim_->ReadLines(1);  // listening once it says where
    }

  private:
    std::filesystem::path socket_;
    std::vector<std::string> options_;
    std::unique_ptr<BackgroundProcess> sim_;
};

// Reads lines until one holds `text`, and gives them all.
std::vector<std::string> LinesUntil(BackgroundProcess& process, const std::string& text) {
    std::vector<std::string> lines;
    while (lines.empty() || lines.back().find(text) == std::string::npos) {
        const std::vector<std::string> next = process.ReadLines(1);
        if (next.empty()) {
            break;
        }
        lines.push_back(next.front());
    }
    return lines;
}

// A reader that the system lists but that refuses to be opened, as a hidraw node without the udev
// rule does: the failure names the device, the system's reason, the udev rule and the group plugdev.
TEST(ZendrikFailures, AListedReaderThatCannotBeOpenedPointsAtTheUdevRule) {
    TempDir dir;
    const std::string socket = (dir.path() / "refusing").string();
    // The reader's hello: vendor 0416, product b00b, input and output reports of 65 bytes.
    const HidSocketPeer::Bytes hello{0x16, 0x04, 0x0B, 0xB0, 65, 0, 65, 0};
    HidSocketPeer refusing(socket, {hello, true, nullptr, true});
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{ZENDRIK_CLI_PATH, "info"},
          std::vector<std::string>{ZENDRIK_CLI_PATH, "--reader", "gate=usb", "config"}}) {
        const ProcessResult result = RunProcess(argv, {{"ZENDRIK_HID_SOCKET", socket}});
        EXPECT_EQ(result.status, kExitFailure) << argv.back();
        EXPECT_THAT(result.err,
                    StartsWith("zendrik: the reader could not be reached (-16): the reader is plugged "
                               "in but its device " +
                               socket + " cannot be opened ("))
            << argv.back();
        EXPECT_THAT(result.err, AllOf(HasSubstr("70-zendrik.rules"), HasSubstr("plugdev"))) << argv.back();
    }
}

// A reader that is not there at the start is waited for (said once, with the device and why), and
// what the card number needs is read once it answers.
TEST(ZendrikWatch, WaitsForAReaderAbsentAtTheStart) {
    TempDir dir;
    const std::filesystem::path socket = dir.path() / "late";
    BackgroundProcess watch(
        {ZENDRIK_CLI_PATH, "--reader", "usb:" + socket.string(), "read", "--watch", "--epc", "0:4"}, {},
        true);
    ASSERT_TRUE(watch.WaitForError("zendrik: waiting for the reader: "));
    RestartableSim late(socket, {"--tag", kTagA});
    const std::vector<std::string> reads = watch.ReadLines(1);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_THAT(reads.front(), HasSubstr("card 00112233  count 1  epc 00112233445566778899aabb"));
    const ProcessResult end = watch.Stop(SIGINT);
    EXPECT_EQ(end.status, kExitOk);
    EXPECT_THAT(end.err,
                MatchesRegex("zendrik: waiting for the reader: cannot open the link: no USB reader was "
                             "found \\(-136\\): " +
                             socket.string() +
                             ": No such file or directory\n"
                             "zendrik: link restored\n"
                             "zendrik: stopped after [0-9]+ reads? \\(1 arrival\\)\n"));
}

TEST(ZendrikWatch, ReadingGoesOnThroughAReaderStoppedAndStartedAgain) {
    TempDir dir;
    RestartableSim plain(dir.path() / "plain", {"--serial", "1", "--tag", kTagA, "--round-time", "20"});
    RestartableSim evented(dir.path() / "events", {"--serial", "2", "--tag", kTagB, "--round-time", "20"});
    BackgroundProcess text({ZENDRIK_CLI_PATH, "--reader", plain.address(), "read", "--watch"}, {}, true);
    BackgroundProcess json({ZENDRIK_CLI_PATH, "--reader", "dock=" + evented.address(), "read", "--watch",
                            "--events", "--format", "json", "--absence", "100"},
                           {}, true);
    ASSERT_EQ(text.ReadLines(2).size(), 2u);
    std::vector<std::string> events = json.ReadLines(3);

    // Unplugged: the plain reader's loss goes to standard error, the other's is an event, and its
    // tag departs once it has not been read for the absence time.
    plain.Stop();
    evented.Stop();
    ASSERT_TRUE(text.WaitForError("zendrik: link lost: "));
    for (const std::string& line : LinesUntil(json, "\"departed\"")) {
        events.push_back(line);
    }
    plain.Start();
    evented.Start();
    EXPECT_EQ(text.ReadLines(2).size(), 2u);
    for (const std::string& line : LinesUntil(json, "\"link-restored\"")) {
        events.push_back(line);
    }
    for (const std::string& line : json.ReadLines(2)) {
        events.push_back(line);
    }

    const ProcessResult textEnd = text.Stop(SIGINT);
    EXPECT_EQ(textEnd.status, kExitOk);
    EXPECT_THAT(textEnd.err, MatchesRegex("zendrik: link lost: the reader could not be reached \\(-16\\)\n"
                                          "zendrik: link restored\n"
                                          "zendrik: stopped after [0-9]+ reads \\(1 arrival\\)\n"));
    const ProcessResult jsonEnd = json.Stop(SIGINT);
    EXPECT_EQ(jsonEnd.status, kExitOk);
    for (const std::string& line : Lines(jsonEnd.out)) {
        events.push_back(line);
    }
    // Every line parses back; seq runs from 1 without gaps; every kind came in its place.
    std::vector<std::string> kinds;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const nlohmann::json event = nlohmann::json::parse(events[i], nullptr, false);
        ASSERT_TRUE(event.is_object()) << events[i];
        EXPECT_EQ(event["reader"], "dock") << events[i];
        EXPECT_EQ(event["seq"], i + 1) << events[i];
        EXPECT_THAT(event["time"].get<std::string>(), MatchesRegex("[0-9-]+T[0-9:]+\\.[0-9]{3}Z"));
        const std::string kind = event["event"];
        if (kind == "read") {
            EXPECT_EQ(event["epc"], "300833b2ddd9014000000001") << events[i];
            EXPECT_TRUE(event["antenna"].is_number() && event["rssi"].is_number()) << events[i];
        }
        if (kinds.empty() || kinds.back() != kind) {
            kinds.push_back(kind);
        }
    }
    // The tag departs while the link is down (in whichever order the loss is noticed), and arrives
    // again once it is restored.
    const auto at = [&kinds](const char* kind) { return std::find(kinds.begin(), kinds.end(), kind); };
    ASSERT_NE(at("link-restored"), kinds.end());
    EXPECT_LT(at("link-lost"), at("link-restored"));
    EXPECT_LT(at("departed"), at("link-restored"));
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(kinds.begin(), kinds.begin() + 3),
                ElementsAre("link-up", "arrived", "read"));
    EXPECT_THAT(std::vector<std::string>(at("link-restored"), kinds.end()),
                ElementsAre("link-restored", "arrived", "read"));
    EXPECT_THAT(jsonEnd.err, MatchesRegex("zendrik: stopped after [0-9]+ reads \\(2 arrivals\\)\n"));
}

}  // namespace
}  // namespace zendrik::testing
