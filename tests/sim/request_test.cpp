#include "sim/request.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "sim/endpoint.h"
#include "sim/fault_rule_text.h"
#include "sim/hex_bytes.h"
#include "sim/request_scanner.h"

namespace zendrik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
const Bytes kGetConfig{0x40, 0x02, 0x00, 0xBE};

TEST(SimRequest, ParsesFramesByTheirOwnLength) {
    Bytes padded = kProbe;
    padded.resize(64, 0);
    const Bytes wrongEnd{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x00};
    Bytes badCrc = kProbe;
    badCrc[6] ^= 1;
    Bytes tooLong = BuildStandardFrame(0xFF, 0x10, Bytes(kMaxRequestData + 1, 0));
    const struct {
        Bytes bytes;
        std::optional<Request> request;
    } cases[] = {
        {kProbe, Request{FrameFamily::kStandard, 0xFF, 0xDC, {1}}},
        {padded, Request{FrameFamily::kStandard, 0xFF, 0xDC, {1}}},
        {wrongEnd, Request{FrameFamily::kStandard, 0xFF, 0xDC, {1}}},  // the end byte is not checked
        {kGetConfig, Request{FrameFamily::kShort, 0, 0x00, {}}},
        {{0x40, 0x03, 0x01, 0x05, 0xB7}, Request{FrameFamily::kShort, 0, 0x01, {5}}},
        {Bytes(kProbe.begin(), kProbe.end() - 1), std::nullopt},  // one byte short
        {badCrc, std::nullopt},
        {{0x40, 0x02, 0x00, 0xBD}, std::nullopt},
        {tooLong, std::nullopt},
        {{0x55, 0xAA}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& parse : cases) {
        EXPECT_EQ(ParseRequest(parse.bytes), parse.request) << HexBytes(parse.bytes);
    }
}

std::vector<Request> Requests(const std::vector<ScannedFrame>& frames) {
    std::vector<Request> requests;
    for (const ScannedFrame& frame : frames) {
        requests.push_back(frame.request);
    }
    return requests;
}

TEST(SimRequestScanner, ResynchronisesOnTheStartBytesOfTheStream) {
    const Request probe{FrameFamily::kStandard, 0xFF, 0xDC, {1}};
    const Request config{FrameFamily::kShort, 0, 0x00, {}};
    RequestScanner scanner;
    Bytes stream{0x00, 0x13};
    stream.insert(stream.end(), kProbe.begin(), kProbe.end());
    stream.insert(stream.end(), kGetConfig.begin(), kGetConfig.end());
    stream.push_back(0xAA);  // the start of a frame still on its way
    scanner.Feed(stream);
    const std::vector<ScannedFrame> frames = scanner.TakeFrames();
    EXPECT_EQ(Requests(frames), (std::vector<Request>{probe, config}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, kProbe);
    EXPECT_EQ(scanner.TakeSkipped(), (Bytes{0x00, 0x13}));
    EXPECT_TRUE(scanner.has_pending());

    // The rest of that frame arrives in pieces.
    scanner.Feed(Bytes(kProbe.begin() + 1, kProbe.begin() + 4));
    EXPECT_TRUE(scanner.TakeFrames().empty());
    scanner.Feed(Bytes(kProbe.begin() + 4, kProbe.end()));
    EXPECT_EQ(Requests(scanner.TakeFrames()), std::vector<Request>{probe});
    EXPECT_FALSE(scanner.has_pending());
}

TEST(SimRequestScanner, AFalseStartByteCostsOnlyItself) {
    const Request probe{FrameFamily::kStandard, 0xFF, 0xDC, {1}};
    RequestScanner scanner;
    // 0xAA with a length of 2: the real frame completes the false one, whose CRC then fails.
    Bytes stream{0xAA, 0x00, 0x00, 0x02, 0x00};
    stream.insert(stream.end(), kProbe.begin(), kProbe.end());
    scanner.Feed(stream);
    EXPECT_EQ(Requests(scanner.TakeFrames()), std::vector<Request>{probe});

    // With a length of 40 the false frame waits for bytes that never come, until the line is quiet.
    Bytes stalled{0xAA, 0x00, 0x00, 0x28, 0x00};
    stalled.insert(stalled.end(), kProbe.begin(), kProbe.end());
    scanner.Feed(stalled);
    EXPECT_TRUE(scanner.TakeFrames().empty());
    scanner.DropStalled();
    EXPECT_EQ(Requests(scanner.TakeFrames()), std::vector<Request>{probe});
}

TEST(SimFaultRuleText, ReadsTheCommandLineRules) {
    using std::chrono::milliseconds;
    const struct {
        const char* text;
        std::optional<FaultRule> rule;
    } cases[] = {
        {"silence", FaultRule{FaultTarget::Any(), Fault::Silence(), std::nullopt}},
        {"crc@0xF6", FaultRule{FaultTarget::Command(0xF6), Fault::CorruptCrc(), std::nullopt}},
        {"status=201@241*2", FaultRule{FaultTarget::Command(0xF1), Fault::Status(201), 2u}},
        {"stray", FaultRule{FaultTarget::Any(), Fault::StrayBytes(2), std::nullopt}},
        {"stray=3*1", FaultRule{FaultTarget::Any(), Fault::StrayBytes(3), 1u}},
        {"late", FaultRule{FaultTarget::Any(), Fault::Late(milliseconds{1500}), std::nullopt}},
        {"late=400@0xF1*1", FaultRule{FaultTarget::Command(0xF1), Fault::Late(milliseconds{400}), 1u}},
        {"short=5@s0x06",
         FaultRule{FaultTarget::Command(0x06, FrameFamily::kShort), Fault::CutShort(5), std::nullopt}},
        {"short", FaultRule{FaultTarget::Any(), Fault::CutShort(4), std::nullopt}},
        {"status", std::nullopt},
        {"status=256", std::nullopt},
        {"silence=1", std::nullopt},
        {"late=-5", std::nullopt},
        {"crc@0x100", std::nullopt},
        {"crc@", std::nullopt},
        {"crc*0", std::nullopt},
        {"noise", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& given : cases) {
        const std::optional<FaultRule> rule = ParseFaultRule(given.text);
        ASSERT_EQ(rule.has_value(), given.rule.has_value()) << given.text;
        if (rule) {
            EXPECT_EQ(rule->fault, given.rule->fault) << given.text;
            EXPECT_EQ(rule->target.family, given.rule->target.family) << given.text;
            EXPECT_EQ(rule->target.command, given.rule->target.command) << given.text;
            EXPECT_EQ(rule->remaining, given.rule->remaining) << given.text;
        }
    }
}

TEST(SimText, HexBytesAndEndpoints) {
    EXPECT_EQ(HexBytes(Bytes{0x00, 0xAB, 0x7F}), "00 AB 7F");
    EXPECT_EQ(ParseHexBytes("00ab7F"), (Bytes{0x00, 0xAB, 0x7F}));
    EXPECT_EQ(ParseHexBytes("E2 00:34-12"), (Bytes{0xE2, 0x00, 0x34, 0x12}));
    EXPECT_EQ(ParseHexBytes(""), Bytes{});
    EXPECT_FALSE(ParseHexBytes("ABC"));
    EXPECT_FALSE(ParseHexBytes("A BC"));
    EXPECT_FALSE(ParseHexBytes("0G"));

    EXPECT_EQ(ParseEndpoint("127.0.0.1:5000"), (Ipv4Endpoint{"127.0.0.1", 5000}));
    EXPECT_EQ(ParseEndpoint("0.0.0.0:0"), (Ipv4Endpoint{"0.0.0.0", 0}));
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:65536", "localhost:1", "1.2.3:4", ":5"}) {
        EXPECT_FALSE(ParseEndpoint(bad)) << bad;
    }
    EXPECT_TRUE(IsLoopback({"127.0.0.1", 1}));
    EXPECT_TRUE(IsLoopback({"127.255.0.9", 1}));
    EXPECT_FALSE(IsLoopback({"128.0.0.1", 1}));
    EXPECT_FALSE(IsLoopback({"0.0.0.0", 1}));
}

}  // namespace
}  // namespace zendrik::sim
