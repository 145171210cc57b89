// The uplink's pure parts: the size of a PUBLISH packet against worked examples, the limit the
// configuration and the broker make together, and the search for the message a broker ends the
// connection on, step by step; the batching of reads and the pacing of a backlog in simulated time.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "daemon/mqtt/culprit_search.h"
#include "daemon/mqtt/mqtt_client.h"
#include "daemon/mqtt/packet_size.h"
#include "daemon/mqtt/read_batches.h"
#include "daemon/mqtt/send_pace.h"
#include "tests/support/loopback.h"

namespace zendrik::daemon {
namespace {

TEST(PacketSizeTest, CountsTheWholePublishPacket) {
    struct Case {
        std::size_t topic, payload;
        bool mqtt5;
        std::size_t properties, bytes;
    };
    const Case cases[] = {
        // "a/b", "hello": 30 0c | 00 03 61 2f 62 | 00 01 | 68 65 6c 6c 6f
        {3, 5, false, 0, 14},
        // the same under MQTT 5, with a property length of 0 before the payload
        {3, 5, true, 0, 15},
        // a remaining length of 127 takes one byte, 128 two
        {3, 120, false, 0, 1 + 1 + 127},
        {3, 121, false, 0, 1 + 2 + 128},
        // 16 383 still two bytes, 16 384 three
        {3, 16376, false, 0, 1 + 2 + 16383},
        {3, 16377, false, 0, 1 + 3 + 16384},
        // Correlation Data of 4 bytes: identifier, two-byte length, data
        {3, 5, true, 7, 1 + 1 + 2 + 3 + 2 + 1 + 7 + 5},
        // a read of the 52-byte EPC reader on zt/t/big/reads: just within a 300-byte limit
        {14, 277, true, 0, 299},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.topic << "/" << c.payload << "/" << c.mqtt5);
        EXPECT_EQ(PublishPacketBytes(c.topic, c.payload, c.mqtt5, c.properties), c.bytes);
    }
    EXPECT_EQ(PacketLimit(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(PacketLimit(500u, std::nullopt), 500u);
    EXPECT_EQ(PacketLimit(std::nullopt, 300u), 300u);
    EXPECT_EQ(PacketLimit(500u, 300u), 300u) << "never more than the broker takes";
    EXPECT_EQ(PacketLimit(200u, 300u), 200u);
    EXPECT_EQ(TooLargeWords(300), "larger than the 300 bytes a message may have");
}

TEST(ReadBatchesTest, GathersEachReadersReadsInSeqOrderAndSendsThemByCountSizeAndTime) {
    using Clock = ReadBatches::Clock;
    const Clock::time_point start{};
    constexpr std::size_t kReadBytes = 60;  // each read's JSON below
    // A step: a row handed over (reader, a read or another event) at a time in ms, or a tick
    // (reader empty); then what became ready: "READER:FIRST-LAST" for a batch, "READER:SEQ" alone.
    struct Step {
        const char* reader;
        bool read;
        int atMs;
        std::vector<std::string> ready;
    };
    struct Case {
        const char* name;
        std::size_t maxReads;
        std::size_t packetBytes;
        std::vector<Step> steps;
    };
    // The frame of a batch of reader "a" and its packet on "z/a/reads" under MQTT 5: a limit
    // that takes exactly two reads, and one that takes not even one.
    const std::size_t twoReads = PublishPacketBytes(9, BatchFrameBytes("a") + 2 * kReadBytes + 1, true);
    const std::size_t noRead = PublishPacketBytes(9, BatchFrameBytes("a") + kReadBytes, true) - 1;
    const Case cases[] = {
        {"full at the count",
         3,
         kBatchPacketBytesMost,
         {{"a", true, 0, {}}, {"a", true, 1, {}}, {"a", true, 2, {"a:1-3"}}, {"a", true, 3, {}}}},
        {"sent when its first read has waited",
         500,
         kBatchPacketBytesMost,
         {{"a", true, 0, {}},
          {"a", true, 60, {}},
          {"", false, 99, {}},
          {"", false, 100, {"a:1-2"}},
          {"a", true, 101, {}},
          {"", false, 200, {}},
          {"", false, 201, {"a:3-3"}}}},
        {"another event of the reader sends its batch first",
         500,
         kBatchPacketBytesMost,
         {{"a", true, 0, {}},
          {"a", true, 1, {}},
          {"a", false, 2, {"a:1-2", "a:3"}},
          {"a", false, 3, {"a:4"}},
          {"a", true, 4, {}}}},
        {"readers apart",
         2,
         kBatchPacketBytesMost,
         {{"a", true, 0, {}},
          {"b", true, 0, {}},
          {"b", false, 1, {"b:1-1", "b:2"}},
          {"a", true, 2, {"a:1-2"}},
          {"b", true, 3, {}}}},
        {"the next read would go over the size",
         500,
         twoReads,
         {{"a", true, 0, {}}, {"a", true, 0, {}}, {"a", true, 0, {"a:1-2"}}, {"", false, 100, {"a:3-3"}}}},
        {"a read too large for a batch goes alone",
         500,
         noRead,
         {{"a", true, 0, {"a:1"}}, {"a", true, 0, {"a:2"}}}},
        {"batch_max 1: no batches",
         1,
         kBatchPacketBytesMost,
         {{"a", true, 0, {"a:1"}}, {"a", false, 0, {"a:2"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBatches batches;
        batches.SetLimits(BatchLimits{c.maxReads, c.packetBytes, std::chrono::milliseconds{100}, true});
        std::map<std::string, uint64_t> seqs;
        int64_t row = 0;
        for (const Step& step : c.steps) {
            const Clock::time_point now = start + std::chrono::milliseconds{step.atMs};
            if (*step.reader == '\0') {
                batches.CloseDue(now);
            } else {
                const std::string reader = step.reader;
                const uint64_t seq = ++seqs[reader];
                // {"event":"read","reader":"a","seq":N,...}: kReadBytes bytes, whatever N is.
                std::string json =
                    R"({"event":"read","reader":")" + reader + R"(","seq":)" + std::to_string(seq);
                json += ",\"x\":\"" + std::string(kReadBytes - json.size() - 8, 'x') + "\"}";
                ASSERT_EQ(json.size(), kReadBytes);
                batches.Add(SpooledMessage{++row, reader, seq,
                                           "z/" + reader + (step.read ? "/reads" : "/events"), json},
                            step.read, now);
            }
            std::vector<std::string> ready;
            while (batches.hasReady()) {
                const Outgoing out = batches.TakeReady();
                const std::string first = out.reader + ":" + std::to_string(out.firstSeq);
                ready.push_back(out.batch ? first + "-" + std::to_string(out.lastSeq) : first);
                EXPECT_EQ(out.rows.size(), out.lastSeq - out.firstSeq + 1) << "a row for every number";
                if (out.batch) {
                    EXPECT_LE(PublishPacketBytes(out.topic.size(), out.payload.size(), true), c.packetBytes);
                    EXPECT_EQ(out.topic, "z/" + out.reader + "/reads");
                }
            }
            EXPECT_EQ(ready, step.ready) << "at " << step.atMs << " ms";
        }
    }
    // The payload: the reads as stored, in order, inside the batch's frame.
    EXPECT_EQ(
        BatchPayload("gate \"1\"", 7, 8, R"({"seq":7},{"seq":8})"),
        R"({"batch":true,"reader":"gate \"1\"","first_seq":7,"last_seq":8,"reads":[{"seq":7},{"seq":8}]})");
    EXPECT_EQ(PlaceMessage(false, 10, 0, 0, 9, "a", BatchLimits{500, kBatchPacketBytesMost}),
              Placement::kAlone);
    EXPECT_EQ(PlaceMessage(false, 10, 2, 21, 9, "a", BatchLimits{500, kBatchPacketBytesMost}),
              Placement::kCloseAndAlone);
    EXPECT_EQ(PlaceMessage(true, 10, 2, 21, 9, "a", BatchLimits{500, twoReads}), Placement::kJoin);
    EXPECT_EQ(PlaceMessage(true, 100, 2, 81, 9, "a", BatchLimits{500, twoReads}), Placement::kCloseAndJoin);
}

TEST(SendPaceTest, PacesMessagesToTheRateInSimulatedTime) {
    using Clock = SendPace::Clock;
    const Clock::time_point start{};
    using std::chrono::milliseconds;
    SendPace unlimited(std::nullopt, start);
    EXPECT_FALSE(unlimited.limited());
    EXPECT_GT(unlimited.Allowed(start), 1000000u);

    SendPace pace(50, start);  // 50 a second: 5 at once, then one each 20 ms
    EXPECT_EQ(pace.Allowed(start), 5u);
    pace.Sent(5);
    EXPECT_EQ(pace.Allowed(start), 0u);
    EXPECT_EQ(pace.NextAt(), start + milliseconds{20});
    EXPECT_EQ(pace.Allowed(start + milliseconds{19}), 0u);
    EXPECT_EQ(pace.Allowed(start + milliseconds{20}), 1u);
    pace.Sent(1);
    EXPECT_EQ(pace.Allowed(start + milliseconds{100}), 4u);
    EXPECT_EQ(pace.Allowed(start + milliseconds{10000}), 5u) << "an idle while saves no more than the burst";
    // Sent over simulated time as the uplink does: never more than the rate.
    std::size_t sent = 0;
    const Clock::time_point begin = start + milliseconds{10000};
    pace.Sent(pace.Allowed(begin));
    for (Clock::time_point now = begin; now < begin + std::chrono::seconds{10}; now = pace.NextAt()) {
        const std::size_t allowed = pace.Allowed(now);
        pace.Sent(allowed);
        sent += allowed;
    }
    EXPECT_NEAR(static_cast<double>(sent), 500.0, 1.0);
    SendPace slow(1, start);  // below ten a second: one at a time
    EXPECT_EQ(slow.Allowed(start), 1u);
    slow.Sent(1);
    EXPECT_EQ(slow.NextAt(), start + std::chrono::seconds{1});
}

TEST(CulpritSearchTest, FindsTheMessageAConnectionEndsOnAndBlamesNoOther) {
    // One step: a connection lost with rows in flight (with messages outside the spool, or not),
    // or a row answered; then what the search says.
    struct Step {
        enum { kLost, kSettled } what;
        std::vector<int64_t> rows;
        bool others = false;
        std::optional<int64_t> blamed = std::nullopt;
        std::vector<int64_t> suspects = {};
    };
    using S = Step;
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"one loss proves nothing", {S{S::kLost, {1, 2, 3}}, S{S::kSettled, {1, 2, 3}}, S{S::kLost, {4, 5}}}},
        {"two losses sharing rows make those the suspects; one sent alone twice is blamed",
         {S{S::kLost, {4, 3, 2, 1}}, S{S::kSettled, {1, 2}},
          S{S::kLost, {3, 4, 5, 6, 7, 8}, false, {}, {3, 4}}, S{S::kLost, {3}, false, {}, {3}},
          S{S::kLost, {3}, false, 3, {}}, S{S::kLost, {9, 10}}}},
        {"halves: a half the connection ends on becomes the suspects, a half acknowledged clears",
         {S{S::kLost, {1, 2, 3, 4, 5, 6, 7, 8}},
          S{S::kLost, {1, 2, 3, 4, 5, 6, 7, 8}, false, {}, {1, 2, 3, 4, 5, 6, 7, 8}},
          S{S::kLost, {1, 2, 3, 4}, false, {}, {1, 2, 3, 4}}, S{S::kSettled, {1, 2}, false, {}, {3, 4}},
          S{S::kSettled, {3}, false, {}, {4}}, S{S::kLost, {4}, false, {}, {4}},
          S{S::kLost, {4}, false, 4, {}}}},
        {"sent alone but with a status in flight: not blamed",
         {S{S::kLost, {5}}, S{S::kLost, {5}, true, {}, {5}}, S{S::kLost, {5}, true, {}, {5}},
          S{S::kLost, {5}, true, {}, {5}}, S{S::kLost, {5}, false, {}, {5}}, S{S::kLost, {5}, false, 5, {}}}},
        {"a lone loss, then acknowledged: the count starts again",
         {S{S::kLost, {5, 6}}, S{S::kLost, {5, 6}, false, {}, {5, 6}}, S{S::kLost, {5}, false, {}, {5}},
          S{S::kSettled, {5}}, S{S::kLost, {6, 7}}, S{S::kLost, {6}, false, {}, {6}},
          S{S::kLost, {6}, false, 6, {}}}},
        {"suspects all acknowledged: the search ends with none found",
         {S{S::kLost, {1, 2}}, S{S::kLost, {1, 2}, false, {}, {1, 2}}, S{S::kSettled, {1, 2}},
          S{S::kLost, {3}}, S{S::kLost, {}, false, {}, {}}}},
        {"a loss with nothing in flight changes nothing",
         {S{S::kLost, {1, 2}}, S{S::kLost, {}}, S{S::kLost, {2}, false, {}, {2}},
          S{S::kLost, {}, false, {}, {2}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CulpritSearch search;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            std::optional<int64_t> blamed;
            if (step.what == Step::kLost) {
                blamed = search.Lost(step.rows, step.others);
            } else {
                for (const int64_t row : step.rows) {
                    search.Settled(row);
                }
            }
            EXPECT_EQ(blamed, step.blamed);
            EXPECT_EQ(search.suspects(), step.suspects);
            EXPECT_EQ(search.searching(), !step.suspects.empty());
            if (search.searching()) {
                EXPECT_EQ(search.probeSize(), (step.suspects.size() + 1) / 2) << "the oldest half";
            }
        }
    }
}

// A broker of MQTT 3.1.1 only, on loopback: it answers a CONNECT of another protocol level with
// "unacceptable protocol version" and closes, and accepts one of level 4. It keeps the levels seen.
class OldBroker {
  public:
    static constexpr uint8_t kLevel311 = 4;
    static constexpr std::size_t kLevelOffset = 6;  // after the protocol name "MQTT" and its length
    static constexpr uint8_t kOneByteLengthMax = 127;

    OldBroker() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = testing::Loopback(0);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OldBroker() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listener_);
    }
    uint16_t port() const { return port_; }
    // Once the client is gone: the levels of the CONNECTs it sent.
    std::vector<uint8_t> TakeLevels() {
        thread_.join();
        return levels_;
    }

  private:
    void Serve() {
        for (int accepted = 0; accepted < 2; ++accepted) {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                return;
            }
            uint8_t head[2] = {};
            uint8_t body[kOneByteLengthMax + 1] = {};
            // A CONNECT of this test's client is under 128 bytes: one byte of remaining length.
            if (::recv(connection, head, sizeof head, MSG_WAITALL) == sizeof head &&
                head[1] <= kOneByteLengthMax && ::recv(connection, body, head[1], MSG_WAITALL) == head[1] &&
                head[1] > kLevelOffset) {
                levels_.push_back(body[kLevelOffset]);
                const uint8_t connack[] = {0x20, 0x02, 0x00,
                                           body[kLevelOffset] == kLevel311 ? uint8_t{0} : uint8_t{1}};
                (void)::send(connection, connack, sizeof connack, MSG_NOSIGNAL);
            }
            if (levels_.size() < 2) {
                ::close(connection);
                continue;
            }
            pollfd waiting{connection, POLLIN, 0};
            ::poll(&waiting, 1, 2000);  // until the client is done with it
            ::close(connection);
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::vector<uint8_t> levels_;
};

// The client's own loop, until the state is no longer `from` (false after two seconds).
bool ServiceWhile(MqttClient& client, MqttState from) {
    for (int pass = 0; pass < 200 && client.state() == from; ++pass) {
        pollfd waiting{client.socket(), static_cast<short>(POLLIN | (client.wantWrite() ? POLLOUT : 0)), 0};
        ::poll(&waiting, 1, 10);
        client.Service((waiting.revents & (POLLIN | POLLERR | POLLHUP)) != 0,
                       (waiting.revents & POLLOUT) != 0);
    }
    return client.state() != from;
}

TEST(MqttClientTest, SpeaksMqtt311ToABrokerThatRefusesMqtt5) {
    OldBroker broker;
    MqttConfig config;
    config.port = broker.port();
    config.clientId = "zendrikd-test";
    MqttClient client(config, "zt/t/status", "{}");
    client.Connect();
    ASSERT_TRUE(ServiceWhile(client, MqttState::kConnecting));
    EXPECT_EQ(client.state(), MqttState::kDown) << "tried again, not refused for good: " << client.failure();
    EXPECT_NE(client.failure().find("MQTT 3.1.1"), std::string::npos) << client.failure();
    client.Connect();
    ASSERT_TRUE(ServiceWhile(client, MqttState::kConnecting));
    EXPECT_EQ(client.state(), MqttState::kConnected) << client.failure();
    EXPECT_FALSE(client.mqtt5());
    EXPECT_EQ(client.maximumPacketSize(), std::nullopt);
    client.Disconnect();
    EXPECT_EQ(broker.TakeLevels(), (std::vector<uint8_t>{5, OldBroker::kLevel311}));
}

}  // namespace
}  // namespace zendrik::daemon
