#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace {

using zendrik::testing::kUntouched;

std::vector<uint8_t> Counting(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

TEST(EpcOutput, CutsTheFieldInOrderOrReversedAndWritesNothingElse) {
    struct Case {
        const char* name;
        std::size_t sourceLength;
        uint8_t reverse;
        uint8_t offset;
        uint8_t count;
        int32_t result;
        std::vector<uint8_t> expected;  // destination afterwards, one guard byte past count
    };
    const std::vector<Case> cases{
        {"forward", 12, 0, 8, 4, ZENDRIK_OK, {8, 9, 10, 11, kUntouched}},
        {"reversed", 12, 1, 8, 4, ZENDRIK_OK, {11, 10, 9, 8, kUntouched}},
        {"past the end",
         12,
         0,
         9,
         4,
         ZENDRIK_ERR_EPC_RANGE,
         {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched}},
        {"empty field at the end", 12, 0, 12, 0, ZENDRIK_OK, {kUntouched}},
        {"empty field beyond the end", 12, 0, 13, 0, ZENDRIK_ERR_EPC_RANGE, {kUntouched}},
        {"sum above 255 does not wrap", 255, 0, 250, 10, ZENDRIK_ERR_EPC_RANGE,
         std::vector<uint8_t>(11, kUntouched)},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> source = Counting(c.sourceLength);
        std::vector<uint8_t> destination(c.expected.size(), kUntouched);
        EXPECT_EQ(EpcOutput(source.data(), static_cast<uint8_t>(c.sourceLength), c.reverse, c.offset, c.count,
                            destination.data()),
                  c.result)
            << c.name;
        EXPECT_EQ(destination, c.expected) << c.name;
    }
}

TEST(EpcOutput, TakesFieldsLongerThanTwentyBytes) {
    const std::vector<uint8_t> source = Counting(64);
    std::vector<uint8_t> destination(41, kUntouched);
    ASSERT_EQ(EpcOutput(source.data(), 64, 1, 4, 40, destination.data()), ZENDRIK_OK);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(destination[i], 43 - i);
    }
    EXPECT_EQ(destination[40], kUntouched);
}

TEST(EpcOutput, RefusesMissingBuffersForANonEmptyField) {
    uint8_t byte = 0;
    EXPECT_EQ(EpcOutput(nullptr, 4, 0, 0, 1, &byte), ZENDRIK_ERR_EPC_RANGE);
    EXPECT_EQ(EpcOutput(&byte, 1, 0, 0, 1, nullptr), ZENDRIK_ERR_EPC_RANGE);
    EXPECT_EQ(EpcOutput(nullptr, 0, 0, 0, 0, nullptr), ZENDRIK_OK);
}

}  // namespace
