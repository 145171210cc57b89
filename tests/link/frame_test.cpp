#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "link/crc16.h"
#include "link/frame.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;

struct FrameCase {
    const char* name;
    uint8_t address;
    uint8_t command;
    Bytes data;
    Bytes expected;
};

TEST(StandardFrame, BuildsTheWorkedFramesByteForByte) {
    const std::vector<FrameCase> cases{
        {"handshake probe", 0xFF, command::kHandshake, {0x01}, {0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55}},
        {"module search", 0xFF, command::kModuleSearch, {}, {0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55}},
        {"get work mode", 0x00, command::kGetWorkMode, {}, {0xAA, 0x00, 0xEB, 0x00, 0x00, 0x70, 0x34, 0x55}},
        {"set work mode", 0x00, command::kSetWorkMode, {0x01}, {0xAA, 0x00, 0xEA, 0x01, 0x00, 0x01, 0xA4, 0x18, 0x55}},
    };
    for (const FrameCase& c : cases) {
        EXPECT_EQ(BuildStandardFrame(c.address, c.command, c.data), c.expected) << c.name;
    }
}

TEST(Crc16, MatchesTheArcCheckValueAndIsZeroForNoBytes) {
    constexpr std::string_view kCheck = "123456789";
    const Bytes check(kCheck.begin(), kCheck.end());
    EXPECT_EQ(Crc16(check), 0xBB3D);
    EXPECT_EQ(Crc16({}), 0);
    const Bytes zeros(4, 0);
    EXPECT_EQ(Crc16(zeros), 0);
}

}  // namespace
}  // namespace zendrik
