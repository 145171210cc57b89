#include <gtest/gtest.h>

#include <array>

#include "commands/tag_commands.h"
#include "link/crc16.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

Bytes Counting(std::size_t size, uint8_t from) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(from + i);
    }
    return bytes;
}

TEST(ReadTag, DeliversReplyBytesFiveToTwentyWhateverTheLength) {
    for (const std::size_t length : {std::size_t{12}, std::size_t{16}, std::size_t{20}}) {
        ReaderFixture reader;
        const Bytes reply = OkReply(Counting(length, 0x30));
        reader.Then(reply);
        std::array<uint8_t, kTagDataCapacity> data;
        data.fill(kUntouched);
        uint8_t tagLength = 0;
        ASSERT_EQ(ReadTag(reader.link, 0xFF, data, tagLength), ZENDRIK_OK) << length;
        EXPECT_EQ(reader.requests().at(0), (BuildStandardFrame(0xFF, command::kReadTag, {})));
        EXPECT_EQ(tagLength, length);
        Bytes expected(reply.begin() + kOffsetData, reply.end());
        expected.resize(kTagDataCapacity, 0);
        EXPECT_EQ(Bytes(data.begin(), data.end()), expected) << length;
    }
}

TEST(ReadTag, TwelveBytesAreFollowedByTheCrcTheEndByteAndAZero) {
    ReaderFixture reader;
    const Bytes tag = Counting(12, 0xE0);
    reader.Then(OkReply(tag));
    std::array<uint8_t, kTagDataCapacity> data{};
    uint8_t length = 0;
    ASSERT_EQ(ReadTag(reader.link, 0xFF, data, length), ZENDRIK_OK);
    Bytes covered{0x00, kStatusOk, 12, 0x00};
    covered.insert(covered.end(), tag.begin(), tag.end());
    const uint16_t crc = Crc16(covered);
    EXPECT_EQ(data[12], crc & 0xFF);
    EXPECT_EQ(data[13], crc >> 8);
    EXPECT_EQ(data[14], kEndByte);
    EXPECT_EQ(data[15], 0);
}

TEST(ReadTag, FailuresLeaveBothOutputs) {
    struct Case {
        const char* name;
        std::optional<Bytes> answer;
        int32_t result;
    };
    const std::vector<Case> cases{
        {"refused", ReplyFrame(kRefused, Counting(12, 0)), ZENDRIK_ERR_STATUS},
        {"silent", std::nullopt, ZENDRIK_ERR_BAD_REPLY},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        c.answer ? reader.Then(*c.answer) : reader.ThenSilence();
        std::array<uint8_t, kTagDataCapacity> data;
        data.fill(kUntouched);
        uint8_t length = kUntouched;
        EXPECT_EQ(ReadTag(reader.link, 0xFF, data, length), c.result) << c.name;
        EXPECT_EQ(length, kUntouched) << c.name;
        EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == kUntouched; }))
            << c.name;
    }
}

TEST(ReadTag, WaitsForTheInventoryOnUsbOnly) {
    ReaderFixture usb;
    std::array<uint8_t, kTagDataCapacity> data{};
    uint8_t length = 0;
    EXPECT_EQ(ReadTag(usb.link, 0xFF, data, length), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_EQ(usb.sleeps(), Unanswered(300ms, 1ms));

    ReaderFixture udp;
    udp.link.set_type(LinkType::kUdp);
    udp.udp->answer = OkReply(Counting(12, 0));
    EXPECT_EQ(ReadTag(udp.link, 0xFF, data, length), ZENDRIK_OK);
    EXPECT_TRUE(udp.sleeps().empty());
    EXPECT_EQ(length, 12);
}

TEST(ReadId, IsJudgedByStatusAndPassesTransportCodesOn) {
    struct Case {
        std::optional<Bytes> answer;
        int32_t result;
    };
    const std::vector<Case> cases{{OkReply(Counting(12, 0)), ZENDRIK_OK},
                                  {ReplyFrame(kRefused, {}), ZENDRIK_ERR_STATUS},
                                  {std::nullopt, ZENDRIK_ERR_BAD_REPLY}};
    for (const Case& c : cases) {
        ReaderFixture reader;
        c.answer ? reader.Then(*c.answer) : reader.ThenSilence();
        EXPECT_EQ(ReadId(reader.link, 0x07), c.result);
        EXPECT_EQ(reader.requests().at(0), BuildStandardFrame(0x07, command::kReadTag, {}));
        EXPECT_EQ(reader.sleeps().front(), 10ms) << "the standard exchange, also on USB";
    }
}

TEST(GetListTagId, CountsFromReplyByteOneLessFour) {
    struct Case {
        const char* name;
        uint8_t countByte;
        int32_t result;
        uint8_t count;
    };
    const std::vector<Case> cases{
        {"three ids", 7, ZENDRIK_OK, 3},
        {"none", 4, ZENDRIK_OK, 0},
        {"below four", 3, ZENDRIK_LIST_EMPTY, kUntouched},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        const Bytes ids = Counting(8, 0x50);
        reader.Then(ReplyFrame(kStatusOk, ids, c.countByte));
        uint8_t count = kUntouched;
        std::array<uint8_t, kTagListCapacity> out;
        out.fill(kUntouched);
        EXPECT_EQ(GetListTagId(reader.link, 0x01, 0x02, count, out), c.result) << c.name;
        EXPECT_EQ(reader.requests().at(0), (Bytes{0x40, 0x04, 0xED, 0x01, 0x02, 0xCC})) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        const std::size_t copied = c.result == ZENDRIK_OK ? c.count : 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], i < copied ? ids[i] : kUntouched) << c.name << " id byte " << i;
        }
    }
}

TEST(GetListTagId, HandsTheWholeLongestListOver) {
    ReaderFixture reader;
    reader.link.set_type(LinkType::kUdp);
    reader.udp->answer = ReplyFrame(kStatusOk, Counting(251, 0), 255);
    uint8_t count = 0;
    std::array<uint8_t, kTagListCapacity> out{};
    ASSERT_EQ(GetListTagId(reader.link, 0, 0, count, out), ZENDRIK_OK);
    EXPECT_EQ(count, 251);
    EXPECT_EQ(out[250], 250);
}

TEST(StopAutoReadEpc, ReturnsTheExchangeResultWithoutLookingAtTheReply) {
    ReaderFixture reader;
    reader.Then(ReplyFrame(kRefused, {}));
    reader.ThenSilence();
    EXPECT_EQ(StopAutoReadEpc(reader.link), ZENDRIK_OK);
    EXPECT_EQ(StopAutoReadEpc(reader.link), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_EQ(reader.requests().at(0), (Bytes{0x40, 0x02, 0xE0, 0xDE}));
}

}  // namespace
}  // namespace zendrik::testing
