#include <gtest/gtest.h>

#include <vector>

#include "commands/short_frame.h"
#include "link/frame.h"
#include "link/hid_backend.h"
#include "sim/reader.h"
#include "tests/sim/reply_view.h"

namespace zendrik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// Sends a short frame and checks the reply as the library does before it reads fixed positions.
Bytes AskShort(Reader& reader, const Bytes& request) {
    const std::optional<Reply> reply = reader.Answer(request);
    if (!reply) {
        ADD_FAILURE() << "no reply";
        return {};
    }
    const std::optional<testing::ReplyView> view = testing::CheckedReply(reply->bytes);
    if (!view) {
        ADD_FAILURE() << "reply fails the library's checks";
        return {};
    }
    return view->frame;
}

Bytes Slice(const Bytes& frame, std::size_t first, std::size_t count) {
    return {frame.begin() + static_cast<std::ptrdiff_t>(first),
            frame.begin() + static_cast<std::ptrdiff_t>(first + count)};
}

TEST(SimShortFrames, RecordReadsLieAtTheFixedReplyPositions) {
    Reader reader;
    const ReaderSettings settings = reader.settings();
    const ReaderIdentity identity = reader.identity();
    // The requests the library sends, as given for UhfGetConfig, UhfGetReaderVerison, UhfReadBasicParam.
    const Bytes config = AskShort(reader, {0x40, 0x02, 0x00, 0xBE});
    ASSERT_FALSE(config.empty());
    EXPECT_EQ(config[kOffsetStatus], kShortFrameStatusOk);
    EXPECT_EQ(Slice(config, 3, 5), Bytes(settings.config.begin(), settings.config.end()));

    const Bytes version = AskShort(reader, {0x40, 0x02, 0x02, 0xBC});
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(Slice(version, 3, 5), Bytes(identity.versionRecord.begin(), identity.versionRecord.end()));

    const Bytes block = AskShort(reader, {0x40, 0x02, 0x06, 0xB8});
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(Slice(block, 3, 32), Bytes(settings.basicParams.begin(), settings.basicParams.end()));
    EXPECT_LE(block.size(), kHidChunkSize);
}

TEST(SimShortFrames, RecordsAtTheirLayoutLimitsStillPassTheChecks) {
    for (const uint8_t length : {uint8_t{30}, uint8_t{56}}) {
        Reader reader;
        std::array<uint8_t, kBasicParamSize> block{};
        for (std::size_t index = 0; index < block.size(); ++index) {
            block[index] = static_cast<uint8_t>(0xA0 + index);
        }
        block[0] = length;
        block[1] = 0xFF;  // stands where the length's high byte is: covered by the CRC only
        ASSERT_TRUE(reader.ModifySettings([&](ReaderSettings& settings) { settings.basicParams = block; }));
        const Bytes reply = AskShort(reader, {0x40, 0x02, 0x06, 0xB8});
        ASSERT_EQ(reply.size(), length + kFrameOverhead);
        EXPECT_EQ(Slice(reply, 3, 32), Bytes(block.begin(), block.end()));
    }
}

TEST(SimShortFrames, WritesAreKeptAndRefusedBlocksAreNot) {
    Reader reader;
    const struct {
        uint8_t command;
        uint8_t value;
        uint8_t ReaderSettings::*member;
    } sets[] = {
        {short_command::kSetBaudRate, 5, &ReaderSettings::baudRate},
        {short_command::kSetAntenna, 3, &ReaderSettings::antenna},
        {short_command::kSetTime, 9, &ReaderSettings::time},
        {short_command::kSetLed, 0, &ReaderSettings::led},
    };
    for (const auto& set : sets) {
        const Bytes reply = AskShort(reader, BuildShortFrame(set.command, Bytes{set.value}));
        ASSERT_FALSE(reply.empty());
        EXPECT_EQ(reply[kOffsetStatus], kShortFrameStatusOk);
        EXPECT_EQ(reader.settings().*set.member, set.value);
    }

    Bytes block(kBasicParamSize, 0x11);
    block[0] = 40;
    EXPECT_EQ(AskShort(reader, BuildShortFrame(short_command::kWriteBasicParam, block))[kOffsetStatus],
              kShortFrameStatusOk);
    EXPECT_EQ(Slice(AskShort(reader, {0x40, 0x02, 0x06, 0xB8}), 3, 32), block);

    Bytes unplaceable = block;
    unplaceable[0] = 20;  // shorter than the block's own data
    EXPECT_EQ(AskShort(reader, BuildShortFrame(short_command::kWriteBasicParam, unplaceable))[kOffsetStatus],
              kShortStatusRefused);
    EXPECT_EQ(Slice(AskShort(reader, {0x40, 0x02, 0x06, 0xB8}), 3, 32), block);
}

TEST(SimShortFrames, TagListCountsIdBytesPlusFour) {
    Reader reader;
    const Bytes request = BuildShortFrame(short_command::kGetListTagId, Bytes{0x01, 0x02});
    const Bytes empty = AskShort(reader, request);
    ASSERT_FALSE(empty.empty());
    EXPECT_EQ(empty[1], 4);

    for (unsigned index = 1; index <= 5; ++index) {
        reader.AddTag(SampleEpc(index));
    }
    const Bytes list = AskShort(reader, request);
    ASSERT_FALSE(list.empty());
    // Four 12-byte EPCs fit one USB report; the fifth does not.
    ASSERT_EQ(list[1], 48 + 4);
    EXPECT_EQ(Slice(list, 5, 12), SampleEpc(1));
    EXPECT_EQ(Slice(list, 5 + 36, 12), SampleEpc(4));
}

TEST(SimShortFrames, AcknowledgementsUnknownCommandsAndBrokenChecksums) {
    Reader reader;
    EXPECT_EQ(AskShort(reader, {0x40, 0x02, 0x0D, 0xB1})[kOffsetStatus],
              kShortFrameStatusOk);  // factory parameter
    EXPECT_EQ(AskShort(reader, {0x40, 0x02, 0xE0, 0xDE})[kOffsetStatus],
              kShortFrameStatusOk);  // stop auto read
    EXPECT_EQ(AskShort(reader, BuildShortFrame(0x33, Bytes{}))[kOffsetStatus], kShortStatusUnknownCommand);
    EXPECT_EQ(AskShort(reader, BuildShortFrame(short_command::kGetConfig, Bytes{1}))[kOffsetStatus],
              kShortStatusRefused);
    EXPECT_FALSE(reader.Answer(Bytes{0x40, 0x02, 0x00, 0xBF}));
    EXPECT_FALSE(reader.Answer(Bytes{0x40, 0x01, 0x00}));  // N below 2 is no frame
    EXPECT_EQ(reader.requests().back().request.family, FrameFamily::kShort);
}

}  // namespace
}  // namespace zendrik::sim
