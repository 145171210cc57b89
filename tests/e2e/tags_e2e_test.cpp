// Tag reads through the shared library on each link, and the pure functions a caller applies to
// what they return (EpcOutput, hex_a, a_hex).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "sim/reply.h"
#include "sim/tag_field.h"
#include "tests/e2e/on_each_link.h"
#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace zendrik::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t kTagDataSize = 16;
constexpr std::size_t kReplyDataOffset = 5;
// On readers other than kind 2 the EPC follows the antenna byte and the PC word.
constexpr std::size_t kEpcOffsetKind0 = 3;
using zendrik::testing::kUntouched;

// What UhfReadTag hands over: reply bytes 5..20, whatever the data length, zeros past the frame.
Bytes TagDataOf(uint8_t readerAddress, const Bytes& replyData) {
    Bytes frame = sim::BuildReply(readerAddress, 200, replyData);
    frame.resize(kReplyDataOffset + kTagDataSize, 0);
    return Bytes(frame.begin() + kReplyDataOffset, frame.end());
}

class Tags : public OnEachLink {};

TEST_P(Tags, ReadsTagsInTurnAndListsTheirIds) {
    const Bytes longEpc = sim::SampleEpc(7);
    const Bytes shortEpc{0x30, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    ASSERT_TRUE(reader().AddTag(longEpc));
    ASSERT_TRUE(reader().AddTag(shortEpc));
    const uint8_t address = reader().settings().address;

    for (const Bytes& epc : {longEpc, shortEpc}) {
        std::array<uint8_t, kTagDataSize> data{};
        uint8_t length = 0;
        ASSERT_EQ(UhfReadTag(kAnyReader, data.data(), &length), ZENDRIK_OK);
        const Bytes replyData = sim::TagReplyData(reader().kind(), epc);
        EXPECT_EQ(length, replyData.size());
        // A short tag's data run on into the reply's CRC, its end byte and zeros.
        EXPECT_EQ(Bytes(data.begin(), data.end()), TagDataOf(address, replyData));
    }
    EXPECT_EQ(UhfReadId(kAnyReader, 1, 2, 3, 4, 5, 6, 7), ZENDRIK_OK);

    uint8_t count = kUntouched;
    std::array<uint8_t, 251> ids{};
    ASSERT_EQ(UhfGetListTagId(0, 1, 2, 0, &count, ids.data()), ZENDRIK_OK);
    Bytes expected = longEpc;
    expected.insert(expected.end(), shortEpc.begin(), shortEpc.end());
    ASSERT_EQ(count, expected.size());
    EXPECT_EQ(Bytes(ids.begin(), ids.begin() + count), expected);
    EXPECT_EQ(UhfStopAutoReadEPC(0), ZENDRIK_OK);
}

TEST_P(Tags, AnEmptyFieldFailsTheReadAndLeavesItsOutputs) {
    std::array<uint8_t, kTagDataSize> data{};
    data.fill(kUntouched);
    uint8_t length = kUntouched;
    EXPECT_EQ(UhfReadTag(kAnyReader, data.data(), &length), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(length, kUntouched);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == kUntouched; }));
    EXPECT_EQ(UhfReadId(kAnyReader, 0, 0, 0, 0, 0, 0, 0), ZENDRIK_ERR_STATUS);

    uint8_t count = kUntouched;
    std::array<uint8_t, 251> ids{};
    EXPECT_EQ(UhfGetListTagId(0, 0, 0, 0, &count, ids.data()), ZENDRIK_OK);
    EXPECT_EQ(count, 0);
}

TEST_P(Tags, TheWiegandFieldOfAReadTagIsCutByTheOutputSettings) {
    const Bytes epc = sim::SampleEpc(0x1234);
    ASSERT_TRUE(reader().AddTag(epc));
    std::array<uint8_t, 4> wgOut{};
    ASSERT_EQ(UhfGetWgOutByte(kAnyReader, wgOut.data()), ZENDRIK_OK);
    std::array<uint8_t, kTagDataSize> data{};
    uint8_t length = 0;
    ASSERT_EQ(UhfReadTag(kAnyReader, data.data(), &length), ZENDRIK_OK);

    const uint8_t start = wgOut[1];
    const uint8_t count = wgOut[2];
    std::array<uint8_t, 20> field{};
    ASSERT_EQ(EpcOutput(data.data() + kEpcOffsetKind0, static_cast<uint8_t>(epc.size()), wgOut[3], start,
                        count, field.data()),
              ZENDRIK_OK);
    EXPECT_EQ(Bytes(field.begin(), field.begin() + count),
              Bytes(epc.begin() + start, epc.begin() + start + count));
}

INSTANTIATE_TEST_SUITE_P(Links, Tags, kEveryLink, LinkParamName);

struct EpcOutputCase {
    uint8_t sourceLength;
    uint8_t reverse;
    uint8_t offset;
    uint8_t count;
    int32_t result;
    Bytes field;
};

TEST(EpcOutput, CutsForwardOrReversedAndRefusesFieldsOutsideTheSource) {
    const std::array<uint8_t, 12> source{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const std::vector<EpcOutputCase> cases{
        {12, 0, 8, 4, ZENDRIK_OK, {8, 9, 10, 11}},    {12, 1, 8, 4, ZENDRIK_OK, {11, 10, 9, 8}},
        {12, 0, 9, 4, ZENDRIK_ERR_EPC_RANGE, {}},     {12, 0, 12, 0, ZENDRIK_OK, {}},
        {10, 0, 8, 3, ZENDRIK_ERR_EPC_RANGE, {}},  // the stated length counts, not the buffer's
        {12, 0, 255, 255, ZENDRIK_ERR_EPC_RANGE, {}},
    };
    for (const EpcOutputCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << int(c.offset) << " count " << int(c.count));
        std::array<uint8_t, 24> destination{};
        destination.fill(kUntouched);
        EXPECT_EQ(EpcOutput(source.data(), c.sourceLength, c.reverse, c.offset, c.count, destination.data()),
                  c.result);
        EXPECT_EQ(Bytes(destination.begin(), destination.begin() + c.field.size()), c.field);
        EXPECT_EQ(destination[c.field.size()], kUntouched) << "nothing past the field";
    }
}

struct HexTextCase {
    std::string text;
    uint32_t length;
    int16_t result;
    Bytes bytes;  // decoded bytes, then the terminating zero when the call succeeds
};

TEST(HexText, ConvertsBothWaysAndStopsAtTheFirstBadDigit) {
    const std::array<uint8_t, 3> bytes{0x00, 0xAB, 0x7F};
    std::array<char, 8> text{};
    text.fill('x');
    EXPECT_EQ(hex_a(bytes.data(), text.data(), bytes.size()), 0);
    EXPECT_STREQ(text.data(), "00AB7F");

    const std::vector<HexTextCase> cases{
        {"00ab7F", 6, 0, {0x00, 0xAB, 0x7F, 0x00}},
        {"12G4", 4, ZENDRIK_HEX_BAD_DIGIT, {0x12, kUntouched}},
        {"", 0, 0, {0x00}},
        {"ABC", 3, ZENDRIK_HEX_BAD_DIGIT, {0xAB, kUntouched}},
    };
    for (const HexTextCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::array<uint8_t, 8> decoded{};
        decoded.fill(kUntouched);
        EXPECT_EQ(a_hex(c.text.c_str(), decoded.data(), c.length), c.result);
        EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + c.bytes.size()), c.bytes);
    }
}

}  // namespace
}  // namespace zendrik::e2e
