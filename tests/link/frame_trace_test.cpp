// The frame trace: line format, the switch variable, and the lines an exchange writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <vector>

#include "link/frame_trace.h"
#include "link/log.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_serial.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using Bytes = std::vector<uint8_t>;

const Bytes kHandshakeProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
// A reply frame with one data byte (0x21), followed by bytes of the buffer that the frame does not own.
const Bytes kReplyWithTail{0xAA, 0xFF, 0xC8, 0x01, 0x00, 0x21, 0x00, 0x00, 0x55, 0x77, 0x77};

// Sets ZENDRIK_TRACE for one test and restores the previous state afterwards.
class TraceVariable {
  public:
    explicit TraceVariable(const char* value) {
        if (const char* old = std::getenv(kName)) {
            previous_ = old;
        }
        if (value != nullptr) {
            ::setenv(kName, value, 1);
        } else {
            ::unsetenv(kName);
        }
    }
    ~TraceVariable() {
        if (previous_) {
            ::setenv(kName, previous_->c_str(), 1);
        } else {
            ::unsetenv(kName);
        }
    }
    TraceVariable(const TraceVariable&) = delete;
    TraceVariable& operator=(const TraceVariable&) = delete;

  private:
    static constexpr const char* kName = "ZENDRIK_TRACE";
    std::optional<std::string> previous_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

TEST(FrameTrace, TheVariableSwitchesTracingOnUnlessEmptyOrZero) {
    struct Case {
        const char* value;
        bool enabled;
    };
    for (const Case& c :
         {Case{nullptr, false}, Case{"", false}, Case{"0", false}, Case{"1", true}, Case{"yes", true}}) {
        TraceVariable variable(c.value);
        EXPECT_EQ(FrameTraceEnabled(), c.enabled) << (c.value ? c.value : "(unset)");
    }
}

TEST(FrameTrace, LinesCarryTimeLinkDirectionAndUpperCaseHex) {
    const auto when = std::chrono::system_clock::now();
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";
    EXPECT_THAT(FormatTraceLine(when, "usb", TraceDirection::kSent, kHandshakeProbe),
                MatchesRegex(stamp + " usb TX AA FF DC 01 00 01 BF 84 55\n"));
    EXPECT_THAT(FormatTraceLine(when, "serial", TraceDirection::kReceived, Bytes{0x0A, 0xFF}),
                MatchesRegex(stamp + " serial RX 0A FF\n"));
    EXPECT_THAT(FormatTraceLine(when, "udp", TraceDirection::kReceived, Bytes{}),
                MatchesRegex(stamp + " udp RX\n"));
    EXPECT_THAT(FormatTraceFailure(when, "module", ZENDRIK_ERR_UDP_NO_REPLY),
                MatchesRegex(stamp + " module RX error -145\n"));
}

TEST(FrameTrace, TheTimeStampCountsMilliseconds) {
    const auto second = std::chrono::system_clock::from_time_t(1'000'000'000);
    const std::string line =
        FormatTraceLine(second + std::chrono::milliseconds{7}, "usb", TraceDirection::kSent, Bytes{});
    EXPECT_THAT(line, MatchesRegex(".*:[0-9]{2}\\.007 usb TX\n"));
}

TEST(FrameTrace, AReceivedFrameIsCutToItsOwnLength) {
    TraceVariable variable("1");
    ::testing::internal::CaptureStderr();
    TraceReceived("serial", ZENDRIK_OK, kReplyWithTail);
    TraceReceived("serial", ZENDRIK_ERR_BYTE_TIMEOUT, kReplyWithTail);
    const std::vector<std::string> lines = Lines(::testing::internal::GetCapturedStderr());
    EXPECT_THAT(lines, ElementsAre(MatchesRegex(".* serial RX AA FF C8 01 00 21 00 00 55"),
                                   MatchesRegex(".* serial RX error -132")));
}

struct Captured {
    std::vector<std::pair<int32_t, std::string>> messages;
};

void Capture(int32_t level, const char* message, void* user) {
    static_cast<Captured*>(user)->messages.emplace_back(level, message);
}

TEST(FrameTrace, AHandlerTakesTheMessagesOfItsLevelAndMoreSevereInsteadOfStandardError) {
    TraceVariable variable("1");  // the default handler would write to standard error
    struct Case {
        log::Level threshold;
        std::vector<int32_t> levels;  // of the messages the handler gets
    };
    for (const Case& c : {Case{log::Level::kDebug, {3, 3, 1}}, Case{log::Level::kWarning, {1}},
                          Case{log::Level::kError, {}}}) {
        Captured captured;
        log::SetHandler(c.threshold, Capture, &captured);
        ::testing::internal::CaptureStderr();
        TraceSent("usb", kHandshakeProbe);
        TraceReceived("usb", ZENDRIK_ERR_BYTE_TIMEOUT, {});
        TraceEvent("usb", "cannot open /dev/hidraw9: Permission denied");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        std::vector<int32_t> levels;
        for (const auto& [level, message] : captured.messages) {
            levels.push_back(level);
        }
        EXPECT_EQ(levels, c.levels);
        if (c.threshold == log::Level::kDebug) {
            EXPECT_EQ(captured.messages[0].second, "usb TX AA FF DC 01 00 01 BF 84 55");
            EXPECT_EQ(captured.messages[2].second, "usb cannot open /dev/hidraw9: Permission denied");
        }
    }
    // Logged under a lock of the library, the messages come once the scope around it ends.
    Captured held;
    log::SetHandler(log::Level::kDebug, Capture, &held);
    {
        const log::HeldBack outer;
        {
            const log::HeldBack inner;
            TraceSent("udp", Bytes{0x01});
        }
        EXPECT_TRUE(held.messages.empty());
    }
    ASSERT_EQ(held.messages.size(), 1u);
    EXPECT_EQ(held.messages[0].second, "udp TX 01");
    log::SetHandler(log::Level::kDebug, nullptr, nullptr);  // the default again
    ::testing::internal::CaptureStderr();
    TraceSent("usb", kHandshakeProbe);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                MatchesRegex(".* usb TX AA FF DC 01 00 01 BF 84 55\n"));
}

struct SerialRig {
    SerialRig() : link(clock, hid.MakeBackend(), line.MakeOpener(), nullptr) {}
    testing::FakeClock clock;
    testing::FakeHid hid{clock};
    testing::FakeSerialLine line;
    SwitchingLink link;
};

TEST(FrameTrace, AnExchangeTracesItsRequestAndTheFailureOrNothingWhenOff) {
    for (const char* value : {"1", static_cast<const char*>(nullptr)}) {
        TraceVariable variable(value);
        SerialRig rig;
        ASSERT_EQ(rig.link.OpenCom(0, 115200), ZENDRIK_OK);
        std::array<uint8_t, 300> reply{};
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(rig.link.Exchange(ExchangeVariant::Standard(), kHandshakeProbe, reply),
                  ZENDRIK_ERR_NO_START_BYTE);
        const std::vector<std::string> lines = Lines(::testing::internal::GetCapturedStderr());
        if (value == nullptr) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        EXPECT_THAT(lines, ElementsAre(MatchesRegex(".* serial TX AA FF DC 01 00 01 BF 84 55"),
                                       MatchesRegex(".* serial RX error 136")));
    }
}

}  // namespace
}  // namespace zendrik
