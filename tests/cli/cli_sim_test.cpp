// The zendrik program against the virtual reader, over every link: what it prints, what it writes
// to the reader, and how it fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/subprocess.h"

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
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";
    EXPECT_THAT(Lines(read.out),
                ElementsAre("time,card,count,epc_length,epc",
                            MatchesRegex(stamp + ",10070715,1,12,00112233445566778899aabb"),
                            MatchesRegex(stamp + ",00000001,1,12,300833b2ddd9014000000001"),
                            MatchesRegex(stamp + ",10070715,2,12,00112233445566778899aabb")));
}

TEST_P(OverEveryLink, TracePrintsEveryFrameAsATimeStampedHexLine) {
    const ProcessResult info = Zendrik({"--trace", "info"});
    ASSERT_EQ(info.status, kExitOk) << info.err;
    const std::string link = GetParam() == Link::kUdp ? "udp" : GetParam() == Link::kUsb ? "usb" : "serial";
    const std::vector<std::string> lines = Lines(info.err);
    ASSERT_GE(lines.size(), 4u);
    // The handshake probe and its answer come first (over UDP after Net_Connect's own probe).
    const std::size_t first = GetParam() == Link::kUdp ? 2 : 0;
    EXPECT_THAT(lines[first], MatchesRegex(".*T[0-9:.]+ " + link + " TX AA FF DC 01 00 01 BF 84 55"));
    EXPECT_THAT(lines[first + 1], MatchesRegex(".* " + link + " RX AA [0-9A-F]{2} C8 01 00 [0-9A-F ]+ 55"));
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
         "zendrik: cannot open the link: the serial port could not be opened (-32)\n"},
        {"nobody on the UDP port",
         {ZENDRIK_CLI_PATH, "--udp", "127.0.0.1:9", "info"},
         {},
         "zendrik: cannot open the link: the reader could not be reached (-16)\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = RunProcess(c.argv, c.environment);
        EXPECT_EQ(result.status, kExitFailure) << c.name;
        EXPECT_EQ(result.err, c.message) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
    }
    // A reader that stays silent: the link opens, the handshake gets no answer.
    for (const Link link : {Link::kUsb, Link::kSerialPath}) {
        const ProcessResult result = silent.Zendrik(link, {"read", "--count", "1"});
        EXPECT_EQ(result.status, kExitFailure) << LinkName(link);
        EXPECT_EQ(result.err, "zendrik: no reader answered (-130)\n") << LinkName(link);
    }
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
    };
    for (const std::vector<std::string>& arguments : commandLines) {
        std::vector<std::string> argv{ZENDRIK_CLI_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessResult result = RunProcess(argv, {{"ZENDRIK_HID_SOCKET", "/nonexistent/hid"}});
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(arguments) << result.err;
        EXPECT_NE(result.err, "") << ::testing::PrintToString(arguments);
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
    for (const std::vector<std::string>& assignments : refused) {
        std::vector<std::string> arguments{"set"};
        arguments.insert(arguments.end(), assignments.begin(), assignments.end());
        const ProcessResult set = reader.Zendrik(Link::kUsb, arguments);
        EXPECT_EQ(set.status, kExitUsage) << ::testing::PrintToString(assignments);
        EXPECT_THAT(set.err, HasSubstr("nothing was written")) << ::testing::PrintToString(assignments);
    }
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
    SimReader kind1({"--kind", "1"});
    ASSERT_TRUE(kind1.ready());
    EXPECT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=17"}).status, kExitUsage);
    EXPECT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=27"}).status, kExitUsage);
    ASSERT_EQ(kind1.Zendrik(Link::kUsb, {"set", "power=18"}).status, kExitOk);
    EXPECT_EQ(kind1.Config()["power"], 18);

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
    for (const Case& c : cases) {
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
    }
}

// ---- read ---------------------------------------------------------------------------------------

TEST(ZendrikRead, CardNumbersFollowTheFormatTheStartByteAndTheOrder) {
    SimReader reader;  // one tag: 00 11 22 33 44 55 66 77 88 99 AA BB
    ASSERT_TRUE(reader.ready());
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
    for (const Case& c : cases) {
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
        EXPECT_EQ(row["count"], 1);
        EXPECT_EQ(row["epc_length"], 12);
    }
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
    EXPECT_EQ(watch.out, "time,card,count,epc_length,epc\n");
}

}  // namespace
}  // namespace zendrik::testing
