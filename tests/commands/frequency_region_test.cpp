#include <gtest/gtest.h>

#include "commands/frequency_region.h"
#include "tests/commands/reader_fixture.h"

namespace zendrik::testing {
namespace {

constexpr uint8_t kLayoutAKind = 1;

struct Expected {
    int32_t result;
    std::optional<uint8_t> region;
    std::optional<int32_t> first;
    std::optional<int32_t> second;
    std::optional<int32_t> step;
    std::optional<uint8_t> span;
};

TEST(GetFrequencyRegion, DecodesEveryLayoutAndRegion) {
    struct Case {
        const char* name;
        uint8_t readerKind;
        Bytes data;
        Expected expected;
    };
    const std::vector<Case> cases{
        {"865 MHz channels", kLayoutAKind, {2, 4, 10}, {ZENDRIK_OK, 4, 867000, {}, 500, 6}},
        {"902 MHz channels, region 1", kLayoutAKind, {1, 7, 59}, {ZENDRIK_OK, 4, 902000, {}, 500, 52}},
        {"902 MHz channels, region 3", kLayoutAKind, {3, 7, 59}, {ZENDRIK_OK, 4, 902000, {}, 500, 52}},
        {"channel below the 902 MHz base", 0, {1, 6, 6}, {ZENDRIK_OK, 4, 901500, {}, 500, 0}},
        {"span wraps", kLayoutAKind, {2, 10, 4}, {ZENDRIK_OK, 4, 870000, {}, 500, 250}},
        {"free plan", kLayoutAKind, {4, 25, 20, 0x0D, 0xC4, 0x6A}, {ZENDRIK_OK, 4, 902250, {}, 250, 10}},
        {"no region", kLayoutAKind, {0, 9, 9}, {ZENDRIK_OK, 4, {}, {}, {}, {}}},
        {"region out of range", kLayoutAKind, {5, 9, 9}, {ZENDRIK_ERR_BAD_REPLY, 5, {}, {}, {}, {}}},
        {"layout B", kLayoutBKind, {3, 63, 9}, {ZENDRIK_OK, 5, 3, 63, {}, {}}},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        reader.link.set_reader_kind(c.readerKind);
        reader.Then(OkReply(c.data));
        FrequencyReading reading;
        EXPECT_EQ(GetFrequencyRegion(reader.link, 0xFF, reading), c.expected.result) << c.name;
        EXPECT_EQ(reader.requests().at(0), BuildStandardFrame(0xFF, command::kGetFrequency, {})) << c.name;
        EXPECT_EQ(reading.region, c.expected.region) << c.name;
        EXPECT_EQ(reading.first, c.expected.first) << c.name;
        EXPECT_EQ(reading.second, c.expected.second) << c.name;
        EXPECT_EQ(reading.step, c.expected.step) << c.name;
        EXPECT_EQ(reading.span, c.expected.span) << c.name;
    }
}

TEST(GetFrequencyRegion, AnyFailureIsTheStatusCodeWithNothingRead) {
    for (const bool silent : {false, true}) {
        ReaderFixture reader;
        silent ? reader.ThenSilence() : reader.Then(ReplyFrame(kRefused, {4, 1, 1, 1, 1, 1}));
        FrequencyReading reading;
        EXPECT_EQ(GetFrequencyRegion(reader.link, 0xFF, reading), ZENDRIK_ERR_STATUS);
        EXPECT_FALSE(reading.region || reading.first || reading.second || reading.step || reading.span);
    }
}

// A reader that stores the plan written to it and reports it back: layout A as a free plan
// (region 4) echoing the written bytes, layout B as the two setting bytes. Reads addressed to
// `deafTo` go unanswered.
void PlayPlanReader(ReaderFixture& reader, std::optional<uint8_t> deafTo = std::nullopt) {
    auto stored = std::make_shared<Bytes>(kFrequencyRequestLength, 0);
    const bool layoutB = reader.link.reader_kind() == kLayoutBKind;
    reader.Otherwise([stored, layoutB, deafTo](const Bytes& request) -> std::optional<Bytes> {
        if (request[kOffsetCommand] == command::kSetFrequency) {
            stored->assign(request.begin() + kOffsetData,
                           request.begin() + kOffsetData + kFrequencyRequestLength);
            return OkReply();
        }
        if (deafTo && request[kOffsetAddress] == *deafTo) {
            return std::nullopt;
        }
        if (layoutB) {
            return OkReply({(*stored)[0], (*stored)[1]});
        }
        Bytes data{4};
        data.insert(data.end(), stored->begin(), stored->end());
        return OkReply(data);
    });
}

std::vector<uint8_t> Commands(const ReaderFixture& reader) {
    std::vector<uint8_t> codes;
    for (const Bytes& request : reader.requests()) {
        codes.push_back(request[kOffsetCommand]);
    }
    return codes;
}

constexpr uint8_t kSet = command::kSetFrequency;
constexpr uint8_t kGet = command::kGetFrequency;

TEST(SetFrequencyRegion, LayoutAWritesTheFreePlanAndConfirmsItsEcho) {
    ReaderFixture reader;
    reader.link.set_reader_kind(kLayoutAKind);
    PlayPlanReader(reader);
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {902000, 927000, 500, 52}), ZENDRIK_OK);
    EXPECT_EQ(reader.requests().at(0),
              BuildStandardFrame(0xFF, command::kSetFrequency, Bytes{0x32, 0x34, 0x0D, 0xC3, 0x70}));
    EXPECT_EQ(Commands(reader), (std::vector<uint8_t>{kSet, kGet}));
    EXPECT_EQ(reader.sleeps(), (Sleeps{10ms, 10ms, 1000ms, 10ms, 10ms}));
}

TEST(SetFrequencyRegion, LayoutASendsTwiceThenGivesUp) {
    ReaderFixture reader;
    reader.link.set_reader_kind(kLayoutAKind);
    reader.Otherwise([](const Bytes& request) {
        return request[kOffsetCommand] == kSet ? OkReply() : OkReply({2, 4, 10});
    });
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {902000, 0, 500, 52}), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(Commands(reader), (std::vector<uint8_t>{kSet, kGet, kSet, kGet}));
    EXPECT_EQ(reader.sleeps(), (Sleeps{10ms, 10ms, 1000ms, 10ms, 10ms, 10ms}));
}

TEST(SetFrequencyRegion, LayoutAComparesTheFullValuesTheCallerPassed) {
    // A step of 505 kHz is written as 50 units and reads back as 500: not the plan asked for.
    ReaderFixture reader;
    reader.link.set_reader_kind(kLayoutAKind);
    PlayPlanReader(reader);
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {902000, 0, 505, 52}), ZENDRIK_ERR_VERIFY);
}

TEST(SetFrequencyRegion, AFailedFirstReadBackIsMadeUpByTheSecond) {
    ReaderFixture reader;
    reader.link.set_reader_kind(kLayoutAKind);
    reader.Then(OkReply());  // write
    reader.ThenSilence();    // first read-back
    PlayPlanReader(reader);  // second write and read-back
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {902000, 0, 500, 52}), ZENDRIK_OK);
    EXPECT_EQ(Commands(reader), (std::vector<uint8_t>{kSet, kGet, kSet, kGet}));
}

TEST(SetFrequencyRegion, LayoutBAlwaysConfirmsWithAReadBackAddressedToZero) {
    struct Case {
        const char* name;
        std::optional<uint8_t> deafTo;
        bool firstMatches;
        int32_t result;
        std::vector<uint8_t> commands;
    };
    const std::vector<Case> cases{
        {"echoing reader", std::nullopt, true, ZENDRIK_OK, {kSet, kGet, kGet}},
        {"deaf to address 0 after a match", uint8_t{0}, true, ZENDRIK_OK, {kSet, kGet, kGet}},
        {"deaf to the caller's address", uint8_t{0xFF}, false, ZENDRIK_OK, {kSet, kGet, kSet, kGet}},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        reader.link.set_reader_kind(kLayoutBKind);
        PlayPlanReader(reader, c.deafTo);
        EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {3, 1, 999, 99}), c.result) << c.name;
        EXPECT_EQ(reader.requests().at(0),
                  BuildStandardFrame(0xFF, command::kSetFrequency, Bytes{0x03, 0x01, 0x00, 0x00, 0x00}))
            << c.name;
        EXPECT_EQ(Commands(reader), c.commands) << c.name;
        EXPECT_EQ(reader.requests().back()[kOffsetAddress], 0) << c.name;
    }
}

TEST(SetFrequencyRegion, LayoutBGivesUpWhenTheConfirmationDiffers) {
    ReaderFixture reader;
    reader.link.set_reader_kind(kLayoutBKind);
    reader.Otherwise([](const Bytes& request) {
        return request[kOffsetCommand] == kSet ? OkReply() : OkReply({1, 63});
    });
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {3, 1, 0, 0}), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(Commands(reader), (std::vector<uint8_t>{kSet, kGet, kSet, kGet}));
}

TEST(SetFrequencyRegion, NeverReportsTransportOrStatusCodes) {
    ReaderFixture reader;  // silent throughout
    EXPECT_EQ(SetFrequencyRegion(reader.link, 0xFF, {902000, 0, 500, 52}), ZENDRIK_ERR_VERIFY);
}

}  // namespace
}  // namespace zendrik::testing
