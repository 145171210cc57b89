// Replies that read success but announce fewer data bytes than the command reads: the bytes after
// them are the CRC and the end byte, never the reader's data, so they are refused like a refusal.
#include <gtest/gtest.h>

#include <functional>

#include "commands/frequency_region.h"
#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "link/handshake.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

// Runs one command on the fixture and gives its result and whatever it wrote.
using Call = std::function<std::pair<int32_t, Bytes>(ReaderFixture&)>;

Call Parameter(const ParameterCommand& command) {
    return [&command](ReaderFixture& reader) {
        Bytes output(command.outputLength, kUntouched);
        return std::pair{RunParameterCommand(reader.link, command, 0xFF, {}, output), output};
    };
}

Call HandshakeCall() {
    return [](ReaderFixture& reader) {
        HandshakeInfo info{kUntouched, kUntouched};
        const int32_t result = Handshake(reader.link, 0xFF, 1, info);
        return std::pair{result, Bytes{info.readerKind, info.lowValue, reader.link.reader_kind(),
                                       static_cast<uint8_t>(reader.link.settle_pending())}};
    };
}

Call FrequencyCall(uint8_t readerKind) {
    return [readerKind](ReaderFixture& reader) {
        reader.link.set_reader_kind(readerKind);
        FrequencyReading reading;
        const int32_t result = GetFrequencyRegion(reader.link, 0xFF, reading);
        const bool anything =
            reading.region || reading.first || reading.second || reading.step || reading.span;
        return std::pair{result, Bytes{static_cast<uint8_t>(anything)}};
    };
}

TEST(ShortReplies, StatusOkWithTooFewDataBytesIsRefusedAndWritesNothing) {
    struct Case {
        const char* name;
        Call call;
        std::vector<Bytes> replies;  // one per attempt
        Bytes untouched;             // what the call leaves when it refuses
    };
    const Bytes keep1(1, kUntouched);
    const Bytes handshakeUntouched{kUntouched, kUntouched, 0, 0};
    const std::vector<Case> cases{
        // The worked case: with L = 0 the data byte would be the CRC's low byte, 0xB1, kind 11.
        {"handshake, L = 0",
         HandshakeCall(),
         {{0xAA, 0xFF, 0xC8, 0x00, 0x00, 0xB1, 0xEA, 0x55}},
         handshakeUntouched},
        {"get work mode, L = 0", Parameter(parameter::kGetWorkMode), {OkReply()}, keep1},
        {"get password, 4 of 5 bytes",
         Parameter(parameter::kGetPassword),
         {OkReply({1, 2, 3, 4})},
         Bytes(5, kUntouched)},
        {"get wiegand out bytes, both attempts short",
         Parameter(parameter::kGetWiegandOutBytes),
         {OkReply({1, 2, 3}), OkReply({1, 2, 3})},
         Bytes(4, kUntouched)},
        {"get output power, every attempt short",
         Parameter(parameter::kGetOutPower),
         {OkReply(), OkReply(), OkReply()},
         keep1},
        {"plan layout B, 1 of 2 bytes", FrequencyCall(kLayoutBKind), {OkReply({3})}, {0}},
        {"plan layout A, fixed plan without its end channel", FrequencyCall(0), {OkReply({1, 7})}, {0}},
        {"plan layout A, free plan without its start", FrequencyCall(0), {OkReply({4, 25, 20})}, {0}},
        {"plan layout A, no region code", FrequencyCall(0), {OkReply()}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture reader;
        for (const Bytes& reply : c.replies) {
            reader.Then(reply);
        }
        const auto [result, written] = c.call(reader);
        EXPECT_EQ(result, ZENDRIK_ERR_STATUS);
        EXPECT_EQ(written, c.untouched);
        EXPECT_EQ(reader.requests().size(), c.replies.size()) << "a short reply is one failed attempt";
    }
}

TEST(ShortReplies, ARetryAfterAShortReplyTakesTheWholeOne) {
    ReaderFixture reader;
    reader.Then(OkReply({0x26}));
    reader.Then(OkReply({1, 2, 3, 4}));
    const auto [result, written] = Parameter(parameter::kGetWiegandOutBytes)(reader);
    EXPECT_EQ(result, ZENDRIK_OK);
    EXPECT_EQ(written, (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace zendrik::testing
