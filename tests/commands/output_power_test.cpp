#include <gtest/gtest.h>

#include "commands/output_power.h"
#include "link/handshake.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

TEST(GetOutPower, TriesStandardThenTwiceWithTheLongWaitAndNeverLeaksTransportCodes) {
    struct Case {
        const char* name;
        std::vector<std::optional<Bytes>> answers;  // then silence
        int32_t result;
        uint8_t power;
        Sleeps sleeps;
    };
    const std::vector<Case> cases{
        {"at once", {OkReply({0x1E})}, ZENDRIK_OK, 0x1E, Answered(10ms)},
        {"third time",
         {ReplyFrame(kRefused, {0x01}), ReplyFrame(kRefused, {0x02}), OkReply({0x1F})},
         ZENDRIK_OK,
         0x1F,
         Concat({Answered(10ms), Answered(232ms), Answered(232ms)})},
        {"refused throughout",
         {ReplyFrame(kRefused, {}), ReplyFrame(kRefused, {}), ReplyFrame(kRefused, {})},
         ZENDRIK_ERR_STATUS,
         kUntouched,
         Concat({Answered(10ms), Answered(232ms), Answered(232ms)})},
        {"silent",
         {},
         ZENDRIK_ERR_STATUS,
         kUntouched,
         Concat({Unanswered(10ms), Unanswered(232ms), Unanswered(232ms)})},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        for (const auto& answer : c.answers) {
            answer ? reader.Then(*answer) : reader.ThenSilence();
        }
        uint8_t power = kUntouched;
        EXPECT_EQ(GetOutPower(reader.link, 0xFF, power), c.result) << c.name;
        EXPECT_EQ(power, c.power) << c.name;
        EXPECT_EQ(reader.sleeps(), c.sleeps) << c.name;
    }
}

// A reader that reports `reported(asked)` as its power after being asked to set `asked`.
void PlayPowerReader(ReaderFixture& reader, std::function<uint8_t(uint8_t)> reported) {
    auto asked = std::make_shared<uint8_t>(0);
    reader.Otherwise([asked, reported](const Bytes& request) {
        if (request[kOffsetCommand] == command::kSetOutPower) {
            *asked = request[kOffsetData];
            return OkReply();
        }
        return OkReply({reported(*asked)});
    });
}

int CountSends(const ReaderFixture& reader, uint8_t code) {
    int sends = 0;
    for (const Bytes& request : reader.requests()) {
        sends += request[kOffsetCommand] == code ? 1 : 0;
    }
    return sends;
}

TEST(SetOutPower, SendsOnceToAReaderThatTakesThePower) {
    ReaderFixture reader;
    PlayPowerReader(reader, [](uint8_t asked) { return asked; });
    EXPECT_EQ(SetOutPower(reader.link, 0xFF, 26), ZENDRIK_OK);
    EXPECT_EQ(reader.requests().at(0), BuildStandardFrame(0xFF, command::kSetOutPower, Bytes{26}));
    EXPECT_EQ(CountSends(reader, command::kSetOutPower), 1);
    // set, apply wait, read-back, wait after confirmation
    EXPECT_EQ(reader.sleeps(), (Sleeps{10ms, 10ms, 10ms, 10ms}));
}

TEST(SetOutPower, GivesUpAfterThreeSendsToAReaderThatKeepsAnotherPower) {
    ReaderFixture reader;
    PlayPowerReader(reader, [](uint8_t) { return uint8_t{20}; });
    EXPECT_EQ(SetOutPower(reader.link, 0xFF, 26), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(CountSends(reader, command::kSetOutPower), 3);
    EXPECT_EQ(CountSends(reader, command::kGetOutPower), 3);
    // Only the first send is followed by the apply wait; later read-backs follow at once.
    EXPECT_EQ(reader.sleeps(), (Sleeps{10ms, 10ms, 10ms, 10ms, 10ms, 10ms, 10ms}));
}

TEST(SetOutPower, ConfirmsOnALaterSend) {
    ReaderFixture reader;
    auto sends = std::make_shared<int>(0);
    reader.Otherwise([sends](const Bytes& request) {
        if (request[kOffsetCommand] == command::kSetOutPower) {
            ++*sends;
            return OkReply();
        }
        return OkReply({static_cast<uint8_t>(*sends == 3 ? 26 : 20)});
    });
    EXPECT_EQ(SetOutPower(reader.link, 0xFF, 26), ZENDRIK_OK);
    EXPECT_EQ(*sends, 3);
}

TEST(SetOutPower, AReadBackThatNeverSucceedsConfirmsNothingEvenForPowerZero) {
    ReaderFixture reader;
    reader.Otherwise([](const Bytes& request) -> std::optional<Bytes> {
        if (request[kOffsetCommand] == command::kSetOutPower) {
            return OkReply();
        }
        return ReplyFrame(kRefused, {0x00});
    });
    EXPECT_EQ(SetOutPower(reader.link, 0xFF, 0), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(CountSends(reader, command::kSetOutPower), 3);
    EXPECT_EQ(CountSends(reader, command::kGetOutPower), 9);
}

TEST(SetOutPower, KeepsTheLastSuccessfulReadBackAcrossFailedOnes) {
    // Send 1 reads back the asked power's neighbour, send 2's read-back fails entirely, send 3's
    // reads back the asked power: only the last confirms.
    ReaderFixture reader;
    auto reads = std::make_shared<int>(0);
    reader.Otherwise([reads](const Bytes& request) -> std::optional<Bytes> {
        if (request[kOffsetCommand] == command::kSetOutPower) {
            return OkReply();
        }
        ++*reads;
        if (*reads == 1) {
            return OkReply({25});
        }
        if (*reads <= 4) {
            return std::nullopt;
        }
        return OkReply({26});
    });
    EXPECT_EQ(SetOutPower(reader.link, 0xFF, 26), ZENDRIK_OK);
    EXPECT_EQ(CountSends(reader, command::kSetOutPower), 3);
}

}  // namespace
}  // namespace zendrik::testing
