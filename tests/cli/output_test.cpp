// Output formats, result words, reader options and card rules of zendrik.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zendrik.h>
#include <cerrno>

#include <zendrik_session.hpp>

#include <cstdio>

#include "cli/link_options.h"
#include "cli/read_output.h"
#include "cli/result_words.h"
#include "cli/settings_output.h"

namespace zendrik::cli {
namespace {

using ::testing::MatchesRegex;

// 2024-05-01T12:34:56.789Z
constexpr int64_t kTimeMs = 1714566896789;

zendrik_event TagEvent(int32_t kind) {
    zendrik_event event{};
    event.kind = kind;
    std::snprintf(event.reader, sizeof event.reader, "%s", "gate");
    event.seq = 7;
    event.time_ms = kTimeMs;
    const uint8_t epc[] = {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0, 0, 0, 0x01};
    std::copy(std::begin(epc), std::end(epc), event.epc);
    event.epc_length = sizeof epc;
    std::snprintf(event.card, sizeof event.card, "%s", "01193046");
    event.count = 2;
    event.first_seen_ms = kTimeMs - 1000;
    event.last_seen_ms = kTimeMs;
    event.antenna = 1;
    event.rssi = -1;  // a kind that sends no signal strength
    return event;
}

zendrik_event LinkLost() {
    zendrik_event event = TagEvent(ZENDRIK_EVENT_LINK_LOST);
    event.epc_length = 0;
    event.error = ZENDRIK_ERR_NOT_REACHED;
    return event;
}

TEST(ReadOutput, OneLinePerEventInEachFormat) {
    const std::string local = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:56\\.789";
    const zendrik::Event read(TagEvent(ZENDRIK_EVENT_READ));
    const zendrik::Event departed(TagEvent(ZENDRIK_EVENT_DEPARTED));
    const zendrik::Event lost(LinkLost());
    struct Case {
        const zendrik::Event& event;
        ReadFormat format;
        TextLayout layout;
        std::string line;  // a pattern for text, whose time is local
    };
    const std::vector<Case> cases{
        {read, ReadFormat::kJson, {}, read.json() + "\n"},
        {read,
         ReadFormat::kCsv,
         {},
         "read,gate,7,2024-05-01T12:34:56.789Z,300833b2ddd9014000000001,01193046,2,2024-05-01T12:34:55.789Z,,"
         "1,,\n"},
        {departed,
         ReadFormat::kCsv,
         {},
         "departed,gate,7,2024-05-01T12:34:56.789Z,300833b2ddd9014000000001,01193046,2,"
         "2024-05-01T12:34:55.789Z,2024-05-01T12:34:56.789Z,,,\n"},
        {lost,
         ReadFormat::kCsv,
         {},
         "link-lost,gate,7,2024-05-01T12:34:56.789Z,,,,,,,,the reader could not be reached\n"},
        {read,
         ReadFormat::kText,
         {},
         local + "  card 01193046  count 2  epc 300833b2ddd9014000000001  antenna 1\n"},
        {read,
         ReadFormat::kText,
         {true, true},
         local + "  gate  read  card 01193046  count 2  epc 300833b2ddd9014000000001  antenna 1\n"},
        {departed,
         ReadFormat::kText,
         {false, true},
         local + "  departed  card 01193046  count 2  epc 300833b2ddd9014000000001\n"},
        {lost,
         ReadFormat::kText,
         {true, true},
         local + "  gate  link-lost  the reader could not be reached \\(-16\\)\n"},
    };
    for (const Case& c : cases) {
        const std::string line = FormatEvent(c.format, c.event, c.layout);
        if (c.format == ReadFormat::kText) {
            EXPECT_THAT(line, MatchesRegex(c.line));
        } else {
            EXPECT_EQ(line, c.line);
        }
    }
    EXPECT_EQ(ReadHeader(ReadFormat::kCsv),
              "event,reader,seq,time,epc,card,count,first_seen,last_seen,antenna,rssi,error\n");
    EXPECT_EQ(ReadHeader(ReadFormat::kText), std::nullopt);
    EXPECT_EQ(ParseReadFormat("csv"), ReadFormat::kCsv);
    EXPECT_EQ(ParseReadFormat("CSV"), std::nullopt);
}

TEST(ReadOutput, CsvQuotesWhatWouldBreakAColumn) {
    EXPECT_EQ(CsvRow(R"({"event":"read","reader":"dock 4, \"north\"","seq":1,"card":null})"),
              "read,\"dock 4, \"\"north\"\"\",1,,,,,,,,,\n");
    EXPECT_EQ(CsvRow(R"({"event":"link-lost","reader":"a\nb","error":"x"})"),
              "link-lost,\"a\nb\",,,,,,,,,,x\n");
    EXPECT_EQ(CsvRow("not json"), ",,,,,,,,,,,\n");
}

TEST(SettingsOutput, TextAligns) {
    rules::ReaderSettings settings;
    settings.power = 20;
    settings.buzzer = 1;
    settings.wiegandFormat = 0;  // not a format the reader should report
    const std::vector<const rules::Setting*> shown{rules::FindSetting("power"), rules::FindSetting("buzzer"),
                                                   rules::FindSetting("wiegand-format")};
    EXPECT_EQ(SettingsText(shown, settings),
              "power           20\nbuzzer          on\nwiegand-format  unknown (0)\n");
}

TEST(ResultWords, EveryLibraryCodeHasWordsAndTheCode) {
    for (const int32_t code :
         {ZENDRIK_LIST_EMPTY, ZENDRIK_ERR_NOT_REACHED, ZENDRIK_ERR_PORT_OPEN, ZENDRIK_ERR_PORT_GET_SETTINGS,
          ZENDRIK_ERR_PORT_SET_SETTINGS, ZENDRIK_ERR_PORT_NOT_OPEN, ZENDRIK_ERR_SHORT_FRAME_STATUS,
          ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_SOCKET_VERSION, ZENDRIK_ERR_VERIFY, ZENDRIK_ERR_STATUS,
          ZENDRIK_ERR_BYTE_TIMEOUT, ZENDRIK_ERR_NO_START_BYTE, ZENDRIK_ERR_NO_USB_READER,
          ZENDRIK_ERR_EPC_RANGE, ZENDRIK_ERR_UDP_NO_REPLY, ZENDRIK_ERR_PORT_BUSY}) {
        const std::string words = zendrik::result_words(code);
        EXPECT_THAT(words, MatchesRegex("[a-z][^()]+ \\(" + std::to_string(code) + "\\)"));
        EXPECT_EQ(words.find("unknown"), std::string::npos) << code;
    }
    EXPECT_EQ(zendrik::result_words(-7), "unknown result (-7)");
    EXPECT_EQ(HandshakeWords(ZENDRIK_ERR_STATUS), "no reader answered (-130)");
    EXPECT_EQ(HandshakeWords(ZENDRIK_ERR_NO_USB_READER), "no USB reader was found (-136)");
    EXPECT_EQ(OpenFailureWords(ZENDRIK_ERR_PORT_BUSY),
              "cannot open the link: the serial port is in use by another program (-149)");
    EXPECT_EQ(OpenFailureWords(ZENDRIK_ERR_STATUS), "no reader answered (-130)");
    EXPECT_EQ(OpenFailureWords(ZENDRIK_ERR_BAD_REPLY), "the reply was missing or damaged (-82)");
}

TEST(ReaderOptions, NamesAddressesAndShorthands) {
    struct Case {
        const char* text;
        const char* address;
        const char* name;
        bool accepted;
    };
    const std::vector<Case> cases{
        {"usb", "usb", "", true},
        {"gate=usb:/dev/hidraw3", "usb:/dev/hidraw3", "gate", true},
        {"serial:/dev/ttyUSB0?baud=9600", "serial:/dev/ttyUSB0?baud=9600", "", true},
        {"dock 4=udp:192.168.1.250:27001?local=0.0.0.0:7", "udp:192.168.1.250:27001?local=0.0.0.0:7",
         "dock 4", true},
        {"a:b=usb", "a:b=usb", "", false},  // no ':' in a name: the whole text is the address
        {"=usb", "usb", "", false},
        {"tab\there=usb", "usb", "tab\there", false},
        {"gate=usb:", "usb:", "gate", false},
        {"serial:COM1?baud=4800", "serial:COM1?baud=4800", "", false},
    };
    for (const Case& c : cases) {
        const ReaderChoice choice = ParseReaderOption(c.text);
        EXPECT_EQ(choice.address, c.address) << c.text;
        EXPECT_EQ(choice.name, c.name) << c.text;
        EXPECT_EQ(CheckReaderOption(c.text).empty(), c.accepted)
            << c.text << ": " << CheckReaderOption(c.text);
    }
    EXPECT_FALSE(CheckReaderOption(std::string(ZENDRIK_READER_ID_CAPACITY, 'n') + "=usb").empty());
    EXPECT_TRUE(CheckReaderOption(std::string(ZENDRIK_READER_ID_CAPACITY - 1, 'n') + "=usb").empty());

    // The shorthands name one reader each, in the library's grammar.
    LinkOptions serial;
    serial.kind = LinkKind::kSerial;
    serial.serialDevice = "com3";
    serial.baud = 9600;
    LinkOptions udp;
    udp.kind = LinkKind::kUdp;
    udp.reader = "127.0.0.1:27001";
    LinkOptions udpFrom = udp;
    udpFrom.local = "127.0.0.1:4000";
    LinkOptions several;
    several.readers = {"usb", "b=serial:/dev/ttyS0"};
    struct Shorthand {
        LinkOptions options;
        std::vector<std::string> addresses;
        std::string link;
    };
    const std::vector<Shorthand> shorthands{
        {LinkOptions{}, {"usb"}, "usb"},
        {serial, {"serial:com3?baud=9600"}, "serial com3 9600"},  // the library reads COM names
        {udp, {"udp:127.0.0.1:27001"}, "udp 127.0.0.1:27001"},
        {udpFrom, {"udp:127.0.0.1:27001?local=127.0.0.1:4000"}, "udp 127.0.0.1:27001"},
        {several, {"usb", "serial:/dev/ttyS0"}, "usb"},
    };
    for (const Shorthand& c : shorthands) {
        const std::vector<ReaderChoice> chosen = ChosenReaders(c.options);
        std::vector<std::string> addresses;
        for (const ReaderChoice& choice : chosen) {
            addresses.push_back(choice.address);
            EXPECT_TRUE(CheckReaderOption(choice.address).empty()) << choice.address;
        }
        EXPECT_EQ(addresses, c.addresses);
        EXPECT_EQ(chosen.front().link, c.link);
    }
}

TEST(LinkOptions, HostPortTexts) {
    struct HostCase {
        const char* text;
        std::optional<std::pair<std::string, int32_t>> parsed;
    };
    const std::vector<HostCase> hosts{
        {"127.0.0.1:5000", std::make_pair("127.0.0.1", 5000)},
        {"0.0.0.0:0", std::make_pair("0.0.0.0", 0)},
        {"192.168.1.250:65535", std::make_pair("192.168.1.250", 65535)},
        {"127.0.0.1:65536", std::nullopt},
        {"127.0.0.1:-1", std::nullopt},
        {"127.0.0.1", std::nullopt},
        {"localhost:5000", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"1.2.3:4", std::nullopt},
        {"127.0.0.1:50x", std::nullopt},
        {":5000", std::nullopt},
    };
    for (const HostCase& c : hosts) {
        const std::optional<HostPort> parsed = ParseHostPort(c.text);
        ASSERT_EQ(parsed.has_value(), c.parsed.has_value()) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->ip, c.parsed->first);
            EXPECT_EQ(parsed->port, c.parsed->second);
        }
    }
}

}  // namespace
}  // namespace zendrik::cli
