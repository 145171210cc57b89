// The uplink's pure parts: the size of a PUBLISH packet against worked examples, the limit the
// configuration and the broker make together, and the search for the message a broker ends the
// connection on, step by step.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "daemon/mqtt/culprit_search.h"
#include "daemon/mqtt/packet_size.h"

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

}  // namespace
}  // namespace zendrik::daemon
