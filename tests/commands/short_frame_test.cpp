#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "commands/short_frame.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ShortFrame, BuildsTheWorkedRequestsByteForByte) {
    struct Case {
        const char* name;
        uint8_t command;
        Bytes data;
        Bytes expected;
    };
    const std::vector<Case> cases{
        {"get config", short_command::kGetConfig, {}, {0x40, 0x02, 0x00, 0xBE}},
        {"get reader version", short_command::kGetReaderVersion, {}, {0x40, 0x02, 0x02, 0xBC}},
        {"read basic param", short_command::kReadBasicParam, {}, {0x40, 0x02, 0x06, 0xB8}},
        {"read factory parameter", short_command::kReadFactoryParameter, {}, {0x40, 0x02, 0x0D, 0xB1}},
        {"set baud rate 5", short_command::kSetBaudRate, {0x05}, {0x40, 0x03, 0x01, 0x05, 0xB7}},
        {"stop auto read", short_command::kStopAutoRead, {}, {0x40, 0x02, 0xE0, 0xDE}},
        {"tag list", short_command::kGetListTagId, {0x01, 0x02}, {0x40, 0x04, 0xED, 0x01, 0x02, 0xCC}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildShortFrame(c.command, c.data), c.expected) << c.name;
    }
}

TEST(ShortFrame, CountsCommandDataAndChecksumAndSumsToZero) {
    const Bytes block(32, 0x5A);
    const Bytes frame = BuildShortFrame(short_command::kWriteBasicParam, block);
    ASSERT_EQ(frame.size(), 36u);
    EXPECT_EQ(frame[1], 34);
    EXPECT_EQ(static_cast<uint8_t>(std::accumulate(frame.begin(), frame.end(), 0u)), 0);
}

TEST(ShortFrameChecksum, IsZeroForNoBytesAndCountsOnlyTheLowByteOfTheCount) {
    EXPECT_EQ(ShortFrameChecksum({}), 0);
    Bytes bytes(257, 0);
    bytes[0] = 0x01;  // the 257th byte is counted as byte 1 of 1
    bytes[256] = 0x10;
    EXPECT_EQ(ShortFrameChecksum(bytes), 0xFF);
}

}  // namespace
}  // namespace zendrik
