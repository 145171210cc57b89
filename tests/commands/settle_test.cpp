#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>

#include "commands/frequency_region.h"
#include "commands/output_power.h"
#include "commands/short_frame_command.h"
#include "commands/short_frame_table.h"
#include "link/handshake.h"
#include "link/settle_override.h"
#include "tests/commands/reader_fixture.h"

namespace zendrik::testing {
namespace {

// The three reads that give the reader time after a handshake, and the wait each takes.
struct SettlingRead {
    const char* name;
    Milliseconds settle;
    std::function<int32_t(Link&)> run;
};

std::vector<SettlingRead> SettlingReads() {
    return {
        {"output power", 1100ms,
         [](Link& link) {
             uint8_t power = 0;
             return GetOutPower(link, 0xFF, power);
         }},
        {"basic parameters", 500ms,
         [](Link& link) {
             std::array<uint8_t, 32> block{};
             return RunShortFrameCommand(link, short_frame::kReadBasicParam, {}, block);
         }},
        {"frequency plan", 1000ms,
         [](Link& link) {
             FrequencyReading reading;
             return GetFrequencyRegion(link, 0xFF, reading);
         }},
    };
}

void Greet(ReaderFixture& reader, bool accepted) {
    accepted ? reader.Then(OkReply({0x10})) : reader.ThenRefusal();
    HandshakeInfo info;
    Handshake(reader.link, 0xFF, 1, info);
    reader.clock.clear_sleeps();
}

TEST(SettleWait, OnlyTheFirstSettlingReadAfterAHandshakeWaits) {
    for (const SettlingRead& first : SettlingReads()) {
        for (const SettlingRead& second : SettlingReads()) {
            ReaderFixture reader;
            reader.Otherwise([](const Bytes&) { return OkReply({0x00, 0x00, 0x00}); });
            Greet(reader, true);
            EXPECT_EQ(first.run(reader.link), ZENDRIK_OK) << first.name;
            EXPECT_EQ(reader.sleeps(), Concat({{first.settle}, Answered(10ms)})) << first.name;
            reader.clock.clear_sleeps();
            EXPECT_EQ(second.run(reader.link), ZENDRIK_OK) << second.name;
            EXPECT_EQ(reader.sleeps(), Answered(10ms)) << first.name << " then " << second.name;
        }
    }
}

TEST(SettleWait, AFailedHandshakeSetsNothingToWaitFor) {
    for (const SettlingRead& read : SettlingReads()) {
        ReaderFixture reader;
        reader.Otherwise([](const Bytes&) { return OkReply({0x00, 0x00, 0x00}); });
        Greet(reader, false);
        EXPECT_EQ(read.run(reader.link), ZENDRIK_OK) << read.name;
        EXPECT_EQ(reader.sleeps(), Answered(10ms)) << read.name;
    }
}

TEST(SettleWait, IsTakenEvenWhenTheSettlingReadFails) {
    ReaderFixture reader;
    Greet(reader, true);
    reader.Otherwise([](const Bytes&) { return ReplyFrame(kRefused, {}); });
    uint8_t power = 0;
    EXPECT_EQ(GetOutPower(reader.link, 0xFF, power), ZENDRIK_ERR_STATUS);
    EXPECT_FALSE(reader.link.settle_pending());
    EXPECT_EQ(reader.sleeps().front(), 1100ms);
}

// ZENDRIK_SETTLE_MS: a whole number of milliseconds within the protocol's longest wait replaces the
// reader's own waits; anything else leaves them.
TEST(SettleWait, TheOverrideTakesOnlyAWholeNumberWithinTheLongestWait) {
    const struct {
        const char* text;
        std::optional<Milliseconds> wait;
    } cases[] = {
        {nullptr, std::nullopt}, {"", std::nullopt},    {"0", 0ms},
        {"250", 250ms},          {"1100", 1100ms},      {"1101", std::nullopt},
        {"-1", std::nullopt},    {"+5", std::nullopt},  {"5ms", std::nullopt},
        {" 5", std::nullopt},    {"2.5", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseSettleOverride(c.text), c.wait) << (c.text == nullptr ? "(absent)" : c.text);
    }
}

}  // namespace
}  // namespace zendrik::testing
