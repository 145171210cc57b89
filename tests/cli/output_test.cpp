// Output formats, result words and the link option texts of zendrik.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zendrik.h>
#include <cerrno>

#include "cli/link_options.h"
#include "cli/read_output.h"
#include "cli/result_words.h"
#include "cli/settings_output.h"

namespace zendrik::cli {
namespace {

using ::testing::MatchesRegex;

const ReadRow kRow{"2024-05-01T12:34:56.789", "01193046", 2, 12, "300833b2ddd9014000000001"};

TEST(ReadOutput, OneLinePerReadInEachFormat) {
    EXPECT_EQ(FormatReadRow(ReadFormat::kCsv, kRow),
              "2024-05-01T12:34:56.789,01193046,2,12,300833b2ddd9014000000001\n");
    EXPECT_EQ(FormatReadRow(ReadFormat::kJson, kRow),
              "{\"time\":\"2024-05-01T12:34:56.789\",\"card\":\"01193046\",\"count\":2,\"epc_length\":12,"
              "\"epc\":\"300833b2ddd9014000000001\"}\n");
    EXPECT_EQ(FormatReadRow(ReadFormat::kText, kRow),
              "2024-05-01T12:34:56.789  card 01193046  count 2  epc 300833b2ddd9014000000001\n");
    EXPECT_EQ(ReadHeader(ReadFormat::kCsv), "time,card,count,epc_length,epc\n");
    EXPECT_EQ(ReadHeader(ReadFormat::kText), std::nullopt);
    EXPECT_EQ(ParseReadFormat("csv"), ReadFormat::kCsv);
    EXPECT_EQ(ParseReadFormat("CSV"), std::nullopt);
}

TEST(ReadOutput, TimeStampsCarryMilliseconds) {
    const auto when = std::chrono::system_clock::from_time_t(1'000'000'000) + std::chrono::milliseconds{42};
    EXPECT_THAT(LocalTimeStamp(when),
                MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.042"));
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
        const std::string words = ResultWords(code);
        EXPECT_THAT(words, MatchesRegex("[a-z][^()]+ \\(" + std::to_string(code) + "\\)"));
        EXPECT_EQ(words.find("unknown"), std::string::npos) << code;
    }
    EXPECT_EQ(ResultWords(-7), "unknown result (-7)");
    EXPECT_EQ(HandshakeWords(ZENDRIK_ERR_STATUS), "no reader answered (-130)");
    EXPECT_EQ(HandshakeWords(ZENDRIK_ERR_NO_USB_READER), "no USB reader was found (-136)");
}

TEST(ResultWords, AnUnopenableUsbReaderNamesTheNodeTheReasonAndTheUdevRule) {
    const std::string words = UsbOpenFailureWords("/dev/hidraw3", EACCES);
    for (const char* part : {"/dev/hidraw3", "Permission denied", "70-zendrik.rules", "udevadm"}) {
        EXPECT_NE(words.find(part), std::string::npos) << part << " missing from: " << words;
    }
}

TEST(LinkOptions, HostPortAndComTexts) {
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
    EXPECT_EQ(ComPortIndex("COM1"), 0);
    EXPECT_EQ(ComPortIndex("com20"), 19);
    EXPECT_EQ(ComPortIndex("COM0"), std::nullopt);
    EXPECT_EQ(ComPortIndex("COM21"), std::nullopt);
    EXPECT_EQ(ComPortIndex("COM"), std::nullopt);
    EXPECT_EQ(ComPortIndex("/dev/ttyUSB0"), std::nullopt);
    EXPECT_EQ(ComPortIndex("COM1x"), std::nullopt);
}

}  // namespace
}  // namespace zendrik::cli
