#include "sim/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/sim/reply_view.h"

namespace zendrik::sim {
namespace {

using testing::Ask;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUnknownCommand = 0x55;

TEST(SimReader, AnswersTheHandshakeProbeByteForByte) {
    Reader reader(kKindStandard);
    const Bytes probe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
    const std::optional<Reply> reply = reader.Answer(probe);
    ASSERT_TRUE(reply);
    // From address 1, status 200, one data byte: kind 0, low value 1.
    EXPECT_EQ(reply->bytes, (Bytes{0xAA, 0x01, 0xC8, 0x01, 0x00, 0x01, 0x93, 0xA0, 0x55}));
    EXPECT_EQ(reply->delay.count(), 0);
}

TEST(SimReader, HandshakeCarriesKindAndLowValue) {
    for (const uint8_t kind : {kKindStandard, kKindNarrowPower, kKindChannelList}) {
        Reader reader(kind);
        EXPECT_EQ(Ask(reader, command::kHandshake, {0}).data(), Bytes{static_cast<uint8_t>(kind << 4 | 1)});
    }
    Reader reader;
    ReaderIdentity identity = reader.identity();
    identity.kind = 15;
    identity.lowValue = 9;
    ASSERT_TRUE(reader.SetIdentity(identity));
    EXPECT_EQ(Ask(reader, command::kHandshake, {1}).data(), Bytes{0xF9});
}

TEST(SimReader, GetsReportTheFactoryDefaultsOfKind0) {
    const std::string version = "ZR-UHF-S V2.3.1";
    const struct {
        uint8_t command;
        Bytes data;
    } cases[] = {
        {command::kGetWorkMode, {0}},
        {command::kGetBuzzer, {1}},
        {command::kGetWiegandFormat, {0x26}},
        {command::kGetTriggerTime, {3}},
        {command::kGetWiegandInterval, {2}},
        {command::kGetReadTagInterval, {1}},
        {command::kGetWiegandOutBytes, {1, 9, 3, 0}},
        {command::kGetPassword, {0, 0, 0, 0, 0}},
        {command::kGetOutPower, {33}},
        {command::kGetAddress, {1}},
        {command::kGetFrequency, {1, 7, 59}},
        {command::kVersion, Bytes(version.begin(), version.end())},
        {command::kSerialNumber, {0x5A, 0x44, 0x52, 0x4B, 0x20, 0x24, 0x06, 0x01, 0x00, 0x00, 0x00, 0x01}},
    };
    Reader reader;
    for (const auto& get : cases) {
        const testing::ReplyView reply = Ask(reader, get.command);
        EXPECT_EQ(reply.status(), kStatusOk) << int(get.command);
        EXPECT_EQ(reply.data(), get.data) << int(get.command);
    }
}

TEST(SimReader, SetThenGetRoundTrips) {
    const struct {
        uint8_t kind;
        uint8_t set;
        uint8_t get;
        Bytes value;
    } cases[] = {
        {0, command::kSetWorkMode, command::kGetWorkMode, {1}},
        {0, command::kSetBuzzer, command::kGetBuzzer, {0}},
        {0, command::kSetWiegandFormat, command::kGetWiegandFormat, {0x34}},
        {0, command::kSetTriggerTime, command::kGetTriggerTime, {250}},
        {0, command::kSetWiegandInterval, command::kGetWiegandInterval, {7}},
        {0, command::kSetReadTagInterval, command::kGetReadTagInterval, {0}},
        {0, command::kSetWiegandOutBytes, command::kGetWiegandOutBytes, {1, 8, 4, 1}},
        {0, command::kSetPassword, command::kGetPassword, {1, 0x12, 0x34, 0xAB, 0xCD}},
        {0, command::kSetAddress, command::kGetAddress, {0}},
        {0, command::kSetOutPower, command::kGetOutPower, {0}},
        {0, command::kSetOutPower, command::kGetOutPower, {33}},
        {1, command::kSetOutPower, command::kGetOutPower, {18}},
        {2, command::kSetOutPower, command::kGetOutPower, {63}},
    };
    for (const auto& round : cases) {
        Reader reader(round.kind);
        const testing::ReplyView set = Ask(reader, round.set, round.value);
        EXPECT_EQ(set.status(), kStatusOk) << int(round.set);
        EXPECT_TRUE(set.data().empty());
        EXPECT_EQ(Ask(reader, round.get).data(), round.value) << int(round.get);
    }
}

TEST(SimReader, RefusesWhatTheReaderDoesNotTakeAndKeepsTheOldValue) {
    const struct {
        uint8_t kind;
        uint8_t command;
        Bytes data;
        uint8_t status;
        uint8_t get;
    } cases[] = {
        {0, command::kSetWorkMode, {2}, kStatusRefused, command::kGetWorkMode},
        {0, command::kSetBuzzer, {5}, kStatusRefused, command::kGetBuzzer},
        {0, command::kSetWiegandFormat, {0x30}, kStatusRefused, command::kGetWiegandFormat},
        {0, command::kSetOutPower, {34}, kStatusRefused, command::kGetOutPower},
        {1, command::kSetOutPower, {17}, kStatusRefused, command::kGetOutPower},
        {1, command::kSetOutPower, {27}, kStatusRefused, command::kGetOutPower},
        {2, command::kSetOutPower, {64}, kStatusRefused, command::kGetOutPower},
        {0, command::kSetTriggerTime, {}, kStatusRefused, command::kGetTriggerTime},
        {0, command::kSetAddress, {1, 2}, kStatusRefused, command::kGetAddress},
        {0, command::kSetWiegandOutBytes, {1, 2, 3}, kStatusRefused, command::kGetWiegandOutBytes},
        {0, command::kSetPassword, {1, 2, 3, 4}, kStatusRefused, command::kGetPassword},
        {0, command::kSetFrequency, {50, 52, 0x0D, 0xC3}, kStatusRefused, command::kGetFrequency},
        {0, kUnknownCommand, {}, kStatusUnknownCommand, command::kGetBuzzer},
    };
    for (const auto& refused : cases) {
        Reader reader(refused.kind);
        const Bytes before = Ask(reader, refused.get).data();
        const testing::ReplyView reply = Ask(reader, refused.command, refused.data);
        EXPECT_EQ(reply.status(), refused.status) << int(refused.command);
        EXPECT_TRUE(reply.data().empty());
        EXPECT_EQ(Ask(reader, refused.get).data(), before) << int(refused.command);
    }
    Reader reader;
    EXPECT_EQ(Ask(reader, command::kGetBuzzer, {0}).status(), kStatusRefused);
}

TEST(SimReader, FactoryDefaultRestoresTheKindsValuesButNotItsIdentity) {
    const struct {
        uint8_t kind;
        uint8_t power;
        Bytes plan;
    } cases[] = {{0, 33, {1, 7, 59}}, {1, 26, {1, 7, 59}}, {2, 63, {1, 63}}};
    for (const auto& kind : cases) {
        Reader reader(kind.kind);
        const ReaderIdentity identity = reader.identity();
        Ask(reader, command::kSetBuzzer, {0});
        Ask(reader, command::kSetOutPower, {kind.kind == kKindNarrowPower ? uint8_t{20} : uint8_t{5}});
        Ask(reader, command::kSetFrequency, {3, 1, 0, 0, 0});
        Ask(reader, command::kSetAddress, {9});
        EXPECT_EQ(Ask(reader, command::kFactoryDefault).status(), kStatusOk);
        EXPECT_EQ(reader.settings(), FactoryDefaults(kind.kind));
        EXPECT_EQ(reader.identity(), identity);
        EXPECT_EQ(Ask(reader, command::kGetOutPower).data(), Bytes{kind.power});
        EXPECT_EQ(Ask(reader, command::kGetFrequency).data(), kind.plan);
        EXPECT_EQ(Ask(reader, command::kGetAddress).frame[kOffsetAddress], 1);
    }
}

TEST(SimReader, ReadsTagsRoundRobinInTheKindsLayout) {
    const Bytes first{0xE2, 0, 0x34, 0x12, 1, 0x37, 0x60, 0, 0, 0, 0, 1};
    const Bytes second{0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, 0x02};
    const struct {
        uint8_t kind;
        Bytes leading;
        Bytes trailing;
        std::size_t epcOffset;  // where the tool's EPC window starts in the 16 bytes it is given
    } cases[] = {
        {0, {0x01, 0x30, 0x00}, {0xC4}, 3}, {1, {0x01, 0x30, 0x00}, {0xC4}, 3}, {2, {0x30, 0x00}, {}, 2}};
    for (const auto& layout : cases) {
        Reader reader(layout.kind);
        ASSERT_TRUE(reader.AddTag(first));
        ASSERT_TRUE(reader.AddTag(second));
        for (const Bytes& epc : {first, second, first}) {
            const testing::ReplyView reply = Ask(reader, command::kReadTag);
            Bytes expected = layout.leading;
            expected.insert(expected.end(), epc.begin(), epc.end());
            expected.insert(expected.end(), layout.trailing.begin(), layout.trailing.end());
            EXPECT_EQ(reply.status(), kStatusOk);
            EXPECT_EQ(reply.data(), expected) << int(layout.kind);
            // What UhfReadTag hands the tool: reply bytes 5..20; the window holds the EPC.
            const Bytes window(reply.frame.begin() + kOffsetData + layout.epcOffset,
                               reply.frame.begin() + kOffsetData + layout.epcOffset + epc.size());
            EXPECT_EQ(window, epc);
        }
    }
}

TEST(SimReader, TagReadWithAnEmptyFieldReportsNoTag) {
    Reader reader;
    const testing::ReplyView reply = Ask(reader, command::kReadTag);
    EXPECT_EQ(reply.status(), kStatusNoTag);
    EXPECT_TRUE(reply.data().empty());
    ASSERT_TRUE(reader.AddTag(SampleEpc(1)));
    reader.ClearTags();
    EXPECT_EQ(Ask(reader, command::kReadTag).status(), kStatusNoTag);
}

TEST(SimReader, AddressFilterAnswersOnlyItsOwnAddressAndBroadcast) {
    Reader reader;
    EXPECT_EQ(Ask(reader, command::kGetBuzzer, {}, 7).status(), kStatusOk);  // filter off: any address
    reader.set_address_filter(true);
    EXPECT_FALSE(reader.Answer(BuildStandardFrame(7, command::kGetBuzzer, {})));
    EXPECT_EQ(Ask(reader, command::kGetBuzzer, {}, 1).status(), kStatusOk);
    EXPECT_EQ(Ask(reader, command::kGetBuzzer, {}, kBroadcastAddress).status(), kStatusOk);
    Ask(reader, command::kSetAddress, {7});
    EXPECT_EQ(Ask(reader, command::kGetBuzzer, {}, 7).frame[kOffsetAddress], 7);
    EXPECT_FALSE(reader.Answer(BuildStandardFrame(1, command::kGetBuzzer, {})));
}

TEST(SimReader, LogsEveryDecodedRequestAndWhetherItWasAnswered) {
    Reader reader;
    reader.set_address_filter(true);
    Ask(reader, command::kSetPassword, {1, 2, 3, 4, 5}, 0xFF);
    reader.Answer(BuildStandardFrame(0, command::kGetFrequency, {}));
    Bytes broken = BuildStandardFrame(0xFF, command::kGetBuzzer, {});
    broken[5] ^= 1;
    EXPECT_FALSE(reader.Answer(broken));

    const std::vector<LoggedRequest> log = reader.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].request,
              (Request{FrameFamily::kStandard, 0xFF, command::kSetPassword, {1, 2, 3, 4, 5}}));
    EXPECT_TRUE(log[0].answered);
    EXPECT_EQ(log[1].request, (Request{FrameFamily::kStandard, 0, command::kGetFrequency, {}}));
    EXPECT_FALSE(log[1].answered);
    EXPECT_LE(log[0].received, log[1].received);
    reader.ClearRequests();
    EXPECT_TRUE(reader.requests().empty());
}

TEST(SimReader, TheLogKeepsTheLatestRequestsOnly) {
    Reader reader;
    for (std::size_t index = 0; index <= kRequestLogCapacity; ++index) {
        reader.Answer(BuildStandardFrame(0xFF, command::kSetTriggerTime, Bytes{static_cast<uint8_t>(index)}));
    }
    const std::vector<LoggedRequest> log = reader.requests();
    ASSERT_EQ(log.size(), kRequestLogCapacity);
    EXPECT_EQ(log.front().request.data, Bytes{1});
    EXPECT_EQ(log.back().request.data, Bytes{static_cast<uint8_t>(kRequestLogCapacity)});
}

TEST(SimReader, SettersRefuseWhatCannotBeLaidOut) {
    Reader reader;
    const ReaderIdentity identity = reader.identity();
    const ReaderSettings settings = reader.settings();

    ReaderIdentity longVersion = identity;
    longVersion.version.assign(kMaxVersionSize + 1, 'v');
    ReaderIdentity shortSerial = identity;
    shortSerial.serialNumber.resize(kMinSerialNumberSize - 1);
    ReaderIdentity badRecord = identity;
    badRecord.versionRecord[0] = 2;  // the record's last byte would fall outside the data
    for (const ReaderIdentity& refused : {longVersion, shortSerial, badRecord}) {
        EXPECT_FALSE(reader.SetIdentity(refused));
    }
    EXPECT_FALSE(reader.SetKind(kMaxKind + 1));
    EXPECT_EQ(reader.identity(), identity);

    for (const uint8_t length : {uint8_t{29}, uint8_t{57}}) {
        EXPECT_FALSE(
            reader.ModifySettings([&](ReaderSettings& changed) { changed.basicParams[0] = length; }));
    }
    EXPECT_FALSE(reader.ModifySettings([](ReaderSettings& changed) { changed.config[0] = 2; }));
    EXPECT_EQ(reader.settings(), settings);

    EXPECT_FALSE(reader.AddTag(Bytes{}));
    EXPECT_FALSE(reader.AddTag(Bytes(kMaxEpcSize + 1, 0xEE)));
    EXPECT_TRUE(reader.AddTag(Bytes(kMaxEpcSize, 0xEE)));
    EXPECT_EQ(reader.tags().size(), 1u);

    ReaderIdentity longest = identity;
    longest.version.assign(kMaxVersionSize, 'v');
    EXPECT_TRUE(reader.SetIdentity(longest));
    EXPECT_EQ(Ask(reader, command::kVersion).data().size(), kMaxVersionSize);
}

TEST(SimReader, ResetReturnsToAFreshReaderOfAnotherKind) {
    Reader reader(kKindStandard);
    reader.AddTag(SampleEpc(3));
    reader.FailNext(5, Fault::Silence());
    EXPECT_FALSE(reader.Answer(BuildStandardFrame(0xFF, command::kGetBuzzer, {})));
    reader.Reset(kKindChannelList);
    EXPECT_EQ(reader.kind(), kKindChannelList);
    EXPECT_TRUE(reader.tags().empty());
    EXPECT_TRUE(reader.requests().empty());
    EXPECT_EQ(Ask(reader, command::kGetOutPower).data(), Bytes{63});
}

}  // namespace
}  // namespace zendrik::sim
