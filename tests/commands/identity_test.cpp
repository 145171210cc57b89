#include <gtest/gtest.h>

#include <array>

#include "link/handshake.h"
#include "link/identity.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

TEST(Handshake, SendsTheProbeWithTheLongFirstWaitAndRecordsKindAndSettle) {
    for (const uint8_t value : {uint8_t{1}, uint8_t{0}}) {
        ReaderFixture reader;
        reader.Then(OkReply({0x21}));
        HandshakeInfo info;
        ASSERT_EQ(Handshake(reader.link, 0xFF, value, info), ZENDRIK_OK);
        EXPECT_EQ(reader.requests().at(0), BuildStandardFrame(0xFF, command::kHandshake, Bytes{value}));
        EXPECT_EQ(info.readerKind, 2);
        EXPECT_EQ(info.lowValue, 1);
        EXPECT_EQ(reader.link.reader_kind(), 2);
        EXPECT_TRUE(reader.link.settle_pending());
        EXPECT_EQ(reader.sleeps(), Answered(100ms));
    }
    EXPECT_EQ(BuildStandardFrame(0xFF, command::kHandshake, Bytes{1}),
              (Bytes{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55}));
}

TEST(Handshake, AFailureChangesNothingAndIsAlwaysTheStatusCode) {
    struct Case {
        const char* name;
        std::optional<Bytes> answer;
    };
    const std::vector<Case> cases{{"refused", ReplyFrame(kRefused, {0x21})}, {"silent", std::nullopt}};
    for (const Case& c : cases) {
        ReaderFixture reader;
        reader.link.set_reader_kind(1);
        c.answer ? reader.Then(*c.answer) : reader.ThenSilence();
        HandshakeInfo info{7, 7};
        EXPECT_EQ(Handshake(reader.link, 0xFF, 1, info), ZENDRIK_ERR_STATUS) << c.name;
        EXPECT_EQ(info.readerKind, 7) << c.name;
        EXPECT_EQ(reader.link.reader_kind(), 1) << c.name;
        EXPECT_FALSE(reader.link.settle_pending()) << c.name;
    }
}

TEST(ReadIdentity, CopiesUpToFiftyBytesAfterAtMostTwoAttempts) {
    struct Case {
        const char* name;
        IdentityRecord record;
        std::vector<std::optional<Bytes>> answers;
        int32_t result;
        std::size_t copied;
        Sleeps sleeps;
    };
    const Bytes fifty(50, 0x31);
    const Bytes fiftyOne(51, 0x31);
    const std::vector<Case> cases{
        {"version of 50 bytes", IdentityRecord::kVersion, {OkReply(fifty)}, ZENDRIK_OK, 50, Answered(10ms)},
        {"51 bytes are too many",
         IdentityRecord::kVersion,
         {OkReply(fiftyOne)},
         ZENDRIK_ERR_STATUS,
         0,
         Answered(10ms)},
        {"serial number on the second attempt",
         IdentityRecord::kSerialNumber,
         {ReplyFrame(kRefused, {}), OkReply({1, 2, 3})},
         ZENDRIK_OK,
         3,
         Concat({Answered(10ms), Answered(100ms)})},
        {"silent reader",
         IdentityRecord::kSerialNumber,
         {std::nullopt, std::nullopt},
         ZENDRIK_ERR_STATUS,
         0,
         Concat({Unanswered(10ms), Unanswered(100ms)})},
    };
    for (const Case& c : cases) {
        ReaderFixture reader;
        for (const auto& answer : c.answers) {
            answer ? reader.Then(*answer) : reader.ThenSilence();
        }
        std::array<uint8_t, kIdentityCapacity> buffer;
        buffer.fill(kUntouched);
        std::size_t length = 99;
        EXPECT_EQ(ReadIdentity(reader.link, 0xFF, c.record, buffer, length), c.result) << c.name;
        EXPECT_EQ(reader.sleeps(), c.sleeps) << c.name;
        const uint8_t code =
            c.record == IdentityRecord::kVersion ? command::kVersion : command::kSerialNumber;
        EXPECT_EQ(reader.requests().at(0), BuildStandardFrame(0xFF, code, {})) << c.name;
        EXPECT_EQ(length, c.result == ZENDRIK_OK ? c.copied : 99u) << c.name;
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const bool copied = i < c.copied;
            EXPECT_EQ(buffer[i] != kUntouched, copied) << c.name << " byte " << i;
        }
    }
}

TEST(Identity, WithNoReaderAttachedEveryCallIsTheStatusCode) {
    ReaderFixture reader;
    reader.hid.devices.clear();
    HandshakeInfo info;
    std::array<uint8_t, kIdentityCapacity> buffer{};
    std::size_t length = 0;
    EXPECT_EQ(Handshake(reader.link, 0xFF, 1, info), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(ReadIdentity(reader.link, 0xFF, IdentityRecord::kVersion, buffer, length), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(ReadIdentity(reader.link, 0xFF, IdentityRecord::kSerialNumber, buffer, length),
              ZENDRIK_ERR_STATUS);
}

}  // namespace
}  // namespace zendrik::testing
