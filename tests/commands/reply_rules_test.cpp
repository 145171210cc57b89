// The strict reply rules of reader sessions against the flat exports' rules: a reply of a length
// its command is never answered with is refused rather than taken as a value, and a dead link is
// reported with its transport failure rather than as the reader's refusal.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string_view>

#include "commands/frequency_region.h"
#include "commands/output_power.h"
#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "link/handshake.h"
#include "link/identity.h"
#include "tests/commands/reader_fixture.h"

namespace zendrik::testing {
namespace {

using Call = std::function<int32_t(ReaderFixture&)>;

Call Parameter(const ParameterCommand& command, Bytes data = {}) {
    return [&command, data](ReaderFixture& reader) {
        Bytes output(command.outputLength);
        return RunParameterCommand(reader.link, command, 0xFF, data, output);
    };
}

Call Greeting() {
    return [](ReaderFixture& reader) {
        HandshakeInfo info;
        return Handshake(reader.link, 0xFF, 1, info);
    };
}

Call Identity(IdentityRecord record, Bytes* copied = nullptr) {
    return [record, copied](ReaderFixture& reader) {
        std::array<uint8_t, kIdentityCapacity> buffer{};
        std::size_t length = 0;
        const int32_t result = ReadIdentity(reader.link, 0xFF, record, buffer, length);
        if (copied != nullptr) {
            copied->assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
        }
        return result;
    };
}

Call PlanRead(uint8_t readerKind) {
    return [readerKind](ReaderFixture& reader) {
        reader.link.set_reader_kind(readerKind);
        FrequencyReading reading;
        return GetFrequencyRegion(reader.link, 0xFF, reading);
    };
}

Call PlanWrite() {
    return [](ReaderFixture& reader) { return SetFrequencyRegion(reader.link, 0xFF, {902000, 0, 500, 52}); };
}

Call PowerWrite() {
    return [](ReaderFixture& reader) { return SetOutPower(reader.link, 0xFF, 20); };
}

// `call` over a UDP link whose reader never answers, on a host port of the system's choosing.
Call OverSilentUdp(Call call) {
    return [call](ReaderFixture& reader) {
        reader.link.set_type(LinkType::kUdp);
        reader.link.udp_endpoints().host.port = 0;
        return call(reader);
    };
}

// `call` against a reader that stays silent once, then refuses.
Call SilentThenRefused(Call call) {
    return [call](ReaderFixture& reader) {
        reader.ThenSilence();
        reader.ThenRefusal();
        return call(reader);
    };
}

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(StrictReplies, ALengthTheCommandIsNeverAnsweredWithIsRefused) {
    struct Case {
        const char* name;
        Call call;
        std::vector<Bytes> replies;  // one per attempt, all of the wrong length
        int32_t flat;                // what the flat exports' rules make of them
    };
    const Bytes versionText = Text("ZR-UHF-S V2.3.1");
    const std::vector<Case> cases{
        {"handshake, two bytes", Greeting(), {OkReply({0x21, 0})}, ZENDRIK_OK},
        {"version, empty", Identity(IdentityRecord::kVersion), {OkReply(), OkReply()}, ZENDRIK_OK},
        {"serial number, the version text",
         Identity(IdentityRecord::kSerialNumber),
         {OkReply(versionText), OkReply(versionText)},
         ZENDRIK_OK},
        {"one-byte get, two bytes", Parameter(parameter::kGetWorkMode), {OkReply({0, 1})}, ZENDRIK_OK},
        {"set, one byte back", Parameter(parameter::kSetBuzzer, {1}), {OkReply({1})}, ZENDRIK_OK},
        {"retried get, a tag read's data",
         Parameter(parameter::kGetWiegandFormat),
         {OkReply(Bytes(16, 0x30)), OkReply(Bytes(16, 0x30))},
         ZENDRIK_OK},
        {"output bytes, five",
         Parameter(parameter::kGetWiegandOutBytes),
         {OkReply({1, 9, 3, 0, 0}), OkReply({1, 9, 3, 0, 0})},
         ZENDRIK_OK},
        {"password, six", Parameter(parameter::kGetPassword), {OkReply({1, 2, 3, 4, 5, 6})}, ZENDRIK_OK},
        {"power, two bytes every time",
         Parameter(parameter::kGetOutPower),
         {OkReply({33, 0}), OkReply({33, 0}), OkReply({33, 0})},
         ZENDRIK_OK},
        {"factory default, one byte",
         Parameter(parameter::kFactoryDefault),
         {OkReply({0}), OkReply({0})},
         ZENDRIK_OK},
        {"plan layout A, a fixed plan of six bytes", PlanRead(0), {OkReply({1, 7, 59, 0, 0, 0})}, ZENDRIK_OK},
        {"plan layout A, a free plan of three bytes",
         PlanRead(0),
         {OkReply({4, 25, 20})},
         ZENDRIK_ERR_STATUS},
        {"plan layout B, three bytes", PlanRead(kSettingBytesReaderKind), {OkReply({3, 1, 0})}, ZENDRIK_OK},
    };
    for (const Case& c : cases) {
        for (const bool strict : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (strict ? ", strict" : ", flat"));
            ReaderFixture reader;
            if (strict) {
                reader.link.set_reply_rules(ReplyRules::Strict());
            }
            for (const Bytes& reply : c.replies) {
                reader.Then(reply);
            }
            EXPECT_EQ(c.call(reader), strict ? ZENDRIK_ERR_BAD_REPLY : c.flat);
            if (strict) {
                EXPECT_EQ(reader.requests().size(), c.replies.size()) << "each is one failed attempt";
            }
        }
    }
}

TEST(StrictReplies, ARetryAfterAnotherCommandsReplyTakesItsOwnAfterAQuietWait) {
    ReaderFixture reader;
    reader.link.set_reply_rules(ReplyRules::Strict());
    const Bytes serial{0x5A, 0x44, 0x52, 0x4B, 0x20, 0x24, 0x06, 0x01, 0x00, 0x00, 0x00, 0x01};
    reader.Then(OkReply(Text("ZR-UHF-S V2.3.1")));
    reader.Then(OkReply(serial));
    Bytes copied;
    EXPECT_EQ(Identity(IdentityRecord::kSerialNumber, &copied)(reader), ZENDRIK_OK);
    EXPECT_EQ(copied, serial);
    // The refused reply's exchange waited 10 ms for it; the retry first waits for a quiet link
    // for the exchange's answer time (10 + 11 x 2 ms), then for its own first poll.
    EXPECT_EQ(reader.sleeps(), Concat({Answered(10ms), {32ms}, Answered(100ms)}));
}

TEST(StrictReplies, ADeadLinkIsReportedAsTheLinksFailure) {
    struct Case {
        const char* name;
        Call call;
        int32_t strict;
        int32_t flat;
    };
    const std::vector<Case> cases{
        {"handshake", Greeting(), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_STATUS},
        {"version", Identity(IdentityRecord::kVersion), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_STATUS},
        {"retried get", Parameter(parameter::kGetWiegandFormat), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_STATUS},
        {"power", Parameter(parameter::kGetOutPower), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_STATUS},
        {"power set", PowerWrite(), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_VERIFY},
        {"plan read", PlanRead(0), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_STATUS},
        {"plan write", PlanWrite(), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_VERIFY},
        {"plain get", Parameter(parameter::kGetWorkMode), ZENDRIK_ERR_BAD_REPLY, ZENDRIK_ERR_BAD_REPLY},
        {"version over udp", OverSilentUdp(Identity(IdentityRecord::kVersion)), ZENDRIK_ERR_UDP_NO_REPLY,
         ZENDRIK_ERR_STATUS},
        // Once the reader has answered with a refusal, the failure is the reader's.
        {"version, silent then refused", SilentThenRefused(Identity(IdentityRecord::kVersion)),
         ZENDRIK_ERR_STATUS, ZENDRIK_ERR_STATUS},
    };
    for (const Case& c : cases) {
        for (const bool strict : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (strict ? ", strict" : ", flat"));
            ReaderFixture reader;  // unless the call scripts it, the reader never answers
            if (strict) {
                reader.link.set_reply_rules(ReplyRules::Strict());
            }
            EXPECT_EQ(c.call(reader), strict ? c.strict : c.flat);
        }
    }
}

}  // namespace
}  // namespace zendrik::testing
