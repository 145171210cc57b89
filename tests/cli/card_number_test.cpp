// Card numbers from tag reads: the EPC window by reader kind, Wiegand numbers and EPC fields.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/card_number.h"

namespace zendrik::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

// A tag read whose data bytes are `data` (the rest of the 16 bytes zero) with data length `length`.
TagData Read(std::vector<uint8_t> data, uint8_t length) {
    TagData tag;
    std::copy(data.begin(), data.end(), tag.bytes.begin());
    tag.length = length;
    return tag;
}

EpcWindow Window(std::vector<uint8_t> epc) {
    EpcWindow window;
    std::copy(epc.begin(), epc.end(), window.bytes.begin());
    window.present = epc.size();
    window.epcLength = epc.size();
    return window;
}

TEST(EpcWindow, CutsTheEpcOutOfTheReadByReaderKind) {
    const std::vector<uint8_t> bytes{0xA0, 0xA1, 0xA2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xEE};
    const std::optional<EpcWindow> kind0 = EpcWindowOf(Read(bytes, 16), 0);
    ASSERT_TRUE(kind0);
    EXPECT_EQ(kind0->epcLength, 12u);
    EXPECT_EQ(kind0->present, 12u);
    EXPECT_THAT(kind0->bytes, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12));
    const std::optional<EpcWindow> kind2 = EpcWindowOf(Read(bytes, 14), 2);
    ASSERT_TRUE(kind2);
    EXPECT_EQ(kind2->epcLength, 12u);
    EXPECT_THAT(kind2->bytes, ElementsAre(0xA2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11));
}

TEST(EpcWindow, OnlyTheBytesOfTheEpcArePresent) {
    struct Case {
        uint8_t kind;
        uint8_t length;
        std::optional<std::size_t> epcLength;
        std::size_t present;
    };
    const std::vector<Case> cases{
        {0, 0, std::nullopt, 0},
        {0, 4, std::nullopt, 0},
        {0, 2, std::nullopt, 0},  // no EPC, or wrapped
        {2, 2, std::nullopt, 0},
        {0, 5, 1, 1},
        {0, 12, 8, 8},
        {0, 20, 16, 12},
        {2, 3, 1, 1},
        {2, 255, 253, 12},
    };
    for (const Case& c : cases) {
        const std::optional<EpcWindow> window = EpcWindowOf(Read({}, c.length), c.kind);
        ASSERT_EQ(window.has_value(), c.epcLength.has_value()) << int{c.kind} << " " << int{c.length};
        if (window) {
            EXPECT_EQ(window->epcLength, *c.epcLength);
            EXPECT_EQ(window->present, c.present);
        }
    }
}

TEST(CardNumber, WiegandNumbersAreDecimalWithTheFirstByteMostSignificant) {
    const EpcWindow window = Window({0, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0});
    struct Case {
        int bits;
        uint8_t start;
        bool reversed;
        std::optional<std::string> card;
    };
    const std::vector<Case> cases{
        {26, 1, false, "01193046"},    {26, 1, true, "05649426"},    {34, 1, false, "0305419896"},
        {34, 1, true, "2018915346"},   {34, 5, false, "4294967295"}, {26, 9, false, "00000000"},
        {26, 10, false, std::nullopt}, {34, 9, false, std::nullopt}, {30, 0, false, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WiegandCardNumber(window, c.bits, c.start, c.reversed), c.card)
            << c.bits << " " << int{c.start};
    }
}

TEST(CardNumber, NumbersNeverReachPastTheEpc) {
    EpcWindow shortEpc = Window({0x12, 0x34, 0x56});
    EXPECT_THAT(WiegandCardNumber(shortEpc, 26, 0, false), Optional(std::string("01193046")));
    EXPECT_EQ(WiegandCardNumber(shortEpc, 34, 0, false), std::nullopt);
    EXPECT_EQ(EpcFieldCardNumber(shortEpc, 1, 3, false), std::nullopt);
    EXPECT_EQ(EpcFieldCardNumber(shortEpc, 0, 0, false), std::nullopt);
}

TEST(CardNumber, EpcFieldsAreLowerCaseHexPairs) {
    const EpcWindow window = Window({0x0A, 0xFF, 0x03, 0x05, 0x41, 0x98, 0x96, 0, 0, 0, 0, 0xBC});
    EXPECT_THAT(EpcFieldCardNumber(window, 0, 2, false), Optional(std::string("0aff")));
    EXPECT_THAT(EpcFieldCardNumber(window, 0, 2, true), Optional(std::string("ff0a")));
    EXPECT_THAT(EpcFieldCardNumber(window, 2, 5, false), Optional(std::string("0305419896")));
    EXPECT_THAT(EpcFieldCardNumber(window, 11, 1, false), Optional(std::string("bc")));
    EXPECT_EQ(EpcFieldCardNumber(window, 11, 2, false), std::nullopt);
    EXPECT_EQ(HexText(std::vector<uint8_t>{}), "");
}

}  // namespace
}  // namespace zendrik::cli
