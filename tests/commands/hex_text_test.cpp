#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace {

using zendrik::testing::kUntouched;

TEST(HexA, WritesUpperCasePairsAndATerminator) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    const std::vector<Case> cases{{{0x00, 0xAB, 0x7F}, "00AB7F"}, {{}, ""}, {{0xFF, 0x10}, "FF10"}};
    for (const Case& c : cases) {
        std::vector<char> text(c.expected.size() + 2, 'x');
        EXPECT_EQ(hex_a(c.bytes.data(), text.data(), static_cast<uint32_t>(c.bytes.size())), 0);
        EXPECT_EQ(std::string(text.data()), c.expected);
        EXPECT_EQ(text.back(), 'x') << "wrote past the terminator";
    }
}

struct DecodeCase {
    const char* name;
    std::string text;  // what lies in memory, terminator included by std::string
    uint32_t len;
    int16_t result;
    std::vector<uint8_t> expected;  // the output buffer afterwards, first bytes
};

TEST(AHex, DecodesPairsAndStopsAtTheFirstBadDigit) {
    const std::vector<DecodeCase> cases{
        {"mixed case", "00ab7F", 6, 0, {0x00, 0xAB, 0x7F, 0x00, kUntouched}},
        {"bad digit keeps earlier pairs, no terminator", "12G4", 4, -1, {0x12, kUntouched, kUntouched}},
        {"bad second digit of a pair", "1G", 2, -1, {kUntouched, kUntouched}},
        {"empty", "", 0, 0, {0x00, kUntouched}},
        {"odd length meets the terminator", "ABC", 3, -1, {0xAB, kUntouched, kUntouched}},
        {"odd length with a readable digit after", "ABCD", 3, 0, {0xAB, 0x00, kUntouched}},
        {"length beyond the text ends at the terminator", "AB", 6, -1, {0xAB, kUntouched, kUntouched}},
    };
    for (const DecodeCase& c : cases) {
        std::vector<uint8_t> bytes(c.expected.size(), kUntouched);
        EXPECT_EQ(a_hex(c.text.c_str(), bytes.data(), c.len), c.result) << c.name;
        EXPECT_EQ(bytes, c.expected) << c.name;
    }
}

TEST(AHex, NeverReadsThePartnerOfATerminator) {
    // Exactly the text and its terminator on the heap: a read of the character after the
    // terminator would be caught by the address sanitizer.
    const std::vector<char> text{'A', 'B', '\0'};
    std::array<uint8_t, 4> bytes{};
    EXPECT_EQ(a_hex(text.data(), bytes.data(), 5), -1);
    EXPECT_EQ(bytes[0], 0xAB);
}

TEST(HexText, RejectsMissingBuffers) {
    uint8_t byte = 0;
    char text[3] = {};
    EXPECT_EQ(hex_a(nullptr, text, 1), ZENDRIK_HEX_BAD_DIGIT);
    EXPECT_EQ(hex_a(&byte, nullptr, 1), ZENDRIK_HEX_BAD_DIGIT);
    EXPECT_EQ(a_hex(nullptr, &byte, 2), ZENDRIK_HEX_BAD_DIGIT);
    EXPECT_EQ(a_hex("00", nullptr, 2), ZENDRIK_HEX_BAD_DIGIT);
}

}  // namespace
