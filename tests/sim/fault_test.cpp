#include "sim/fault.h"

#include <gtest/gtest.h>

#include <vector>

#include "commands/short_frame.h"
#include "link/frame.h"
#include "sim/network_module.h"
#include "sim/reader.h"
#include "tests/sim/reply_view.h"

namespace zendrik::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

const Bytes kGetPower = BuildStandardFrame(kBroadcastAddress, command::kGetOutPower, {});
const Bytes kGetBuzzer = BuildStandardFrame(kBroadcastAddress, command::kGetBuzzer, {});

TEST(SimFaults, EachFaultSpoilsTheReplyItsOwnWay) {
    Reader reference;
    const Bytes good = reference.Answer(kGetPower)->bytes;  // AA 01 C8 01 00 21 crc crc 55
    const struct {
        Fault fault;
        bool answered;
        bool passesChecks;
        std::optional<Bytes> bytes;
        milliseconds delay;
    } cases[] = {
        {Fault::Silence(), false, false, std::nullopt, milliseconds{0}},
        {Fault::CorruptCrc(), true, false, std::nullopt, milliseconds{0}},
        {Fault::Status(0x99), true, true, std::nullopt, milliseconds{0}},
        {Fault::StrayBytes(2), true, false, std::nullopt, milliseconds{0}},
        {Fault::Late(milliseconds{1500}), true, true, good, milliseconds{1500}},
        {Fault::CutShort(4), true, false, Bytes(good.begin(), good.begin() + 4), milliseconds{0}},
        {Fault::CutShort(100), true, true, good, milliseconds{0}},
    };
    for (const auto& spoil : cases) {
        Reader reader;
        reader.FailNext(1, spoil.fault);
        const std::optional<Reply> reply = reader.Answer(kGetPower);
        ASSERT_EQ(reply.has_value(), spoil.answered) << int(spoil.fault.kind);
        EXPECT_EQ(reader.requests().back().answered, spoil.answered);
        if (!reply) {
            continue;
        }
        EXPECT_EQ(testing::CheckedReply(reply->bytes).has_value(), spoil.passesChecks)
            << int(spoil.fault.kind);
        EXPECT_EQ(reply->delay, spoil.delay);
        if (spoil.bytes) {
            EXPECT_EQ(reply->bytes, *spoil.bytes);
        }
        EXPECT_EQ(reader.Answer(kGetPower)->bytes, good) << "the fault was for one reply only";
    }
}

TEST(SimFaults, AnotherStatusKeepsTheRestOfTheReplyValid) {
    Reader reader;
    reader.FailNext(1, Fault::Status(201));
    const testing::ReplyView reply = testing::Ask(reader, kGetPower);
    EXPECT_EQ(reply.status(), 201);
    EXPECT_EQ(reply.data(), Bytes{33});
}

TEST(SimFaults, StrayBytesComeBeforeAnIntactFrame) {
    Reader reader;
    const Bytes good = reader.Answer(kGetPower)->bytes;
    reader.FailNext(1, Fault::StrayBytes(3));
    const Bytes spoilt = reader.Answer(kGetPower)->bytes;
    ASSERT_EQ(spoilt.size(), good.size() + 3);
    EXPECT_EQ(Bytes(spoilt.begin(), spoilt.begin() + 3), Bytes(3, kStrayByte));
    EXPECT_EQ(Bytes(spoilt.begin() + 3, spoilt.end()), good);
}

TEST(SimFaults, RulesTargetCommandsFamiliesAndCounts) {
    Reader reader;
    reader.FailCommand(command::kGetOutPower, Fault::Silence(), 2);
    EXPECT_TRUE(reader.Answer(kGetBuzzer));
    EXPECT_FALSE(reader.Answer(kGetPower));
    EXPECT_TRUE(reader.Answer(kGetBuzzer));
    EXPECT_FALSE(reader.Answer(kGetPower));
    EXPECT_TRUE(reader.Answer(kGetPower));

    // A short frame with the same code as a standard command is another command.
    reader.FailCommand(short_command::kSetTime, Fault::Silence(), std::nullopt, FrameFamily::kShort);
    EXPECT_FALSE(reader.Answer(BuildShortFrame(short_command::kSetTime, Bytes{1})));
    EXPECT_TRUE(reader.Answer(BuildStandardFrame(kBroadcastAddress, command::kFactoryDefault, {})));
    EXPECT_FALSE(reader.Answer(BuildShortFrame(short_command::kSetTime, Bytes{1})));
    reader.ClearFaults();
    EXPECT_TRUE(reader.Answer(BuildShortFrame(short_command::kSetTime, Bytes{1})));

    // The first matching rule wins and only it counts down.
    reader.FailNext(1, Fault::Status(0x10));
    reader.FailNext(1, Fault::Status(0x20));
    EXPECT_EQ(testing::Ask(reader, kGetBuzzer).status(), 0x10);
    EXPECT_EQ(testing::Ask(reader, kGetBuzzer).status(), 0x20);
    EXPECT_EQ(testing::Ask(reader, kGetBuzzer).status(), kStatusOk);
    reader.FailNext(0, Fault::Silence());  // nothing to spoil
    EXPECT_TRUE(reader.Answer(kGetBuzzer));
}

TEST(SimFaults, ASilencedSetStillTakesEffect) {
    // The reader carried the command out and then failed to answer, as a lost reply would.
    Reader reader;
    reader.FailNext(1, Fault::Silence());
    EXPECT_FALSE(reader.Answer(BuildStandardFrame(kBroadcastAddress, command::kSetBuzzer, Bytes{0})));
    EXPECT_EQ(reader.settings().buzzer, 0);
}

TEST(SimNetworkModule, AnswersSearchAndSettingsForItsOwnId) {
    NetworkModule module;
    const ModuleSettings settings = module.settings();
    const Bytes encoded = EncodeModuleSettings(settings);
    ASSERT_EQ(encoded.size(), kModuleSettingsReplySize);

    const std::optional<Reply> found = module.Answer(Bytes{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55});
    ASSERT_TRUE(found);
    ASSERT_GE(found->bytes.size(), 27u);
    EXPECT_EQ(found->bytes[0], kStartByte);
    EXPECT_EQ(Bytes(found->bytes.begin() + 5, found->bytes.begin() + 11),
              Bytes(settings.id.begin(), settings.id.end()));

    const std::optional<Reply> read =
        module.Answer(BuildStandardFrame(kBroadcastAddress, command::kModuleReadSettings, settings.id));
    ASSERT_TRUE(read);
    EXPECT_EQ(Bytes(read->bytes.begin() + 5, read->bytes.begin() + 27), encoded);

    Bytes record(settings.id.begin(), settings.id.end());
    for (const uint8_t byte : {10, 0, 0, 7, 255, 0, 0, 0, 10, 0, 0, 1}) {
        record.push_back(byte);
    }
    const std::optional<Reply> written =
        module.Answer(BuildStandardFrame(kBroadcastAddress, command::kModuleWriteSettings, record));
    ASSERT_TRUE(written);
    EXPECT_EQ(Bytes(written->bytes.begin() + 5, written->bytes.begin() + 23), record);
    EXPECT_EQ(module.settings().address, (Ipv4Octets{10, 0, 0, 7}));
    EXPECT_EQ(module.requests().size(), 3u);
}

TEST(SimNetworkModule, StaysSilentForOtherModulesAndOtherRequests) {
    NetworkModule module;
    const ModuleSettings before = module.settings();
    ModuleId other = before.id;
    other[5] ^= 1;
    Bytes record(other.begin(), other.end());
    record.resize(kModuleSettingsSize, 1);
    EXPECT_FALSE(module.Answer(BuildStandardFrame(kBroadcastAddress, command::kModuleReadSettings, other)));
    EXPECT_FALSE(module.Answer(BuildStandardFrame(kBroadcastAddress, command::kModuleWriteSettings, record)));
    EXPECT_FALSE(module.Answer(BuildStandardFrame(kBroadcastAddress, command::kHandshake, Bytes{1})));
    EXPECT_FALSE(module.Answer(Bytes{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD5, 0x55}));
    EXPECT_EQ(module.settings(), before);

    module.AddFault({FaultTarget::Command(command::kModuleSearch), Fault::Silence(), 1});
    EXPECT_FALSE(module.Answer(Bytes{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55}));
    EXPECT_TRUE(module.Answer(Bytes{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55}));
}

}  // namespace
}  // namespace zendrik::sim
