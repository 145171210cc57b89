#include <gtest/gtest.h>

#include "commands/short_frame_command.h"
#include "commands/short_frame_table.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

struct ShortCase {
    const char* name;
    const ShortFrameCommand& command;
    Bytes data;
    Bytes request;  // the whole short frame
};

const std::vector<ShortCase>& AllShortCommands() {
    static const std::vector<ShortCase> cases{
        {"set baud rate", short_frame::kSetBaudRate, {0x05}, {0x40, 0x03, 0x01, 0x05, 0xB7}},
        {"set antenna", short_frame::kSetAntenna, {0x01}, {0x40, 0x03, 0x0A, 0x01, 0xB2}},
        {"set time", short_frame::kSetTime, {0x02}, {0x40, 0x03, 0xF7, 0x02, 0xC4}},
        {"set led", short_frame::kSetLed, {0x01}, {0x40, 0x03, 0xFF, 0x01, 0xBD}},
        {"get config", short_frame::kGetConfig, {}, {0x40, 0x02, 0x00, 0xBE}},
        {"get reader version", short_frame::kGetReaderVersion, {}, {0x40, 0x02, 0x02, 0xBC}},
        {"read basic param", short_frame::kReadBasicParam, {}, {0x40, 0x02, 0x06, 0xB8}},
        {"read factory parameter", short_frame::kReadFactoryParameter, {}, {0x40, 0x02, 0x0D, 0xB1}},
        {"stop auto read", short_frame::kStopAutoRead, {}, {0x40, 0x02, 0xE0, 0xDE}},
    };
    return cases;
}

// A reply whose bytes 3.. carry a record: byte 3 doubles as the data length of the frame.
Bytes RecordReply(uint8_t status, uint8_t dataLength) {
    Bytes data(dataLength);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0x60 + i);
    }
    return ReplyFrame(status, data);
}

TEST(ShortFrameCommands, SendTheirFrameAndHandBackReplyBytesFromThree) {
    for (const ShortCase& c : AllShortCommands()) {
        ReaderFixture reader;
        const Bytes reply = RecordReply(0, 40);
        reader.Then(reply);
        Bytes output(c.command.outputLength, kUntouched);
        EXPECT_EQ(RunShortFrameCommand(reader.link, c.command, c.data, output), ZENDRIK_OK) << c.name;
        EXPECT_EQ(reader.requests().at(0), c.request) << c.name;
        EXPECT_EQ(output, Bytes(reply.begin() + 3, reply.begin() + 3 + c.command.outputLength)) << c.name;
        const Sleeps afterSuccess = &c.command == &short_frame::kSetBaudRate ? Sleeps{100ms} : Sleeps{};
        EXPECT_EQ(reader.sleeps(), Concat({Answered(10ms), afterSuccess})) << c.name;
    }
}

TEST(ShortFrameCommands, PassTransportFailuresOnWithoutWaitingOrWriting) {
    for (const ShortCase& c : AllShortCommands()) {
        ReaderFixture reader;  // silent
        Bytes output(c.command.outputLength, kUntouched);
        EXPECT_EQ(RunShortFrameCommand(reader.link, c.command, c.data, output), ZENDRIK_ERR_BAD_REPLY)
            << c.name;
        EXPECT_EQ(output, Bytes(c.command.outputLength, kUntouched)) << c.name;
        EXPECT_EQ(reader.sleeps(), Unanswered(10ms)) << c.name;
    }
}

TEST(ShortFrameCommands, OnlyConfigAndVersionJudgeReplyByteTwo) {
    for (const ShortCase& c : AllShortCommands()) {
        ReaderFixture reader;
        reader.Then(RecordReply(kStatusOk, 40));  // a standard success is a short-frame refusal
        Bytes output(c.command.outputLength, kUntouched);
        const bool judged = c.command.check == ShortReplyCheck::kStatusZero;
        EXPECT_EQ(RunShortFrameCommand(reader.link, c.command, c.data, output),
                  judged ? ZENDRIK_ERR_SHORT_FRAME_STATUS : ZENDRIK_OK)
            << c.name;
        if (judged) {
            EXPECT_EQ(output, Bytes(c.command.outputLength, kUntouched)) << c.name;
        }
    }
}

TEST(ShortFrameCommands, WriteBasicParamSendsTheWholeBlock) {
    ReaderFixture reader;
    reader.Then(OkReply());
    Bytes block(32);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(RunShortFrameCommand(reader.link, short_frame::kWriteBasicParam, block, {}), ZENDRIK_OK);
    const Bytes& sent = reader.requests().at(0);
    ASSERT_EQ(sent.size(), 36u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 3), (Bytes{0x40, 34, 0x09}));
    EXPECT_EQ(Bytes(sent.begin() + 3, sent.end() - 1), block);
}

TEST(ShortFrameCommands, ReadBasicParamTakesBytesPastAShortReplysFrame) {
    // The block is read at fixed positions of the zeroed reply buffer, whatever the frame's length.
    ReaderFixture reader;
    const Bytes reply = RecordReply(0, 2);  // 10 bytes
    reader.Then(reply);
    Bytes block(32, kUntouched);
    ASSERT_EQ(RunShortFrameCommand(reader.link, short_frame::kReadBasicParam, {}, block), ZENDRIK_OK);
    Bytes expected(reply.begin() + 3, reply.end());
    expected.resize(32, 0);
    EXPECT_EQ(block, expected);
}

}  // namespace
}  // namespace zendrik::testing
