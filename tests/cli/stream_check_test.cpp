// The listener's rules against the table the Python package's listener is checked against too, and
// the state that carries a stream's place across runs.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/site_listener.h"
#include "cli/stream_check.h"

namespace zendrik::cli {
namespace {

// A line as the table writes it: "gate-1:3" for an event, "gap gate-1 2-2", "lost gate-1 5-6".
std::string Summary(const Json& line) {
    for (const char* record : {"gap", "lost"}) {
        if (line.contains(record)) {
            const Json& span = line[record];
            std::string name;
            for (const char* kind : {"reader", "zone", "door"}) {
                if (span.contains(kind)) {
                    name = span[kind];
                }
            }
            return std::string(record) + " " + name + " " + std::to_string(span["from"].get<uint64_t>()) +
                   "-" + std::to_string(span["to"].get<uint64_t>());
        }
    }
    const std::string name = line.contains("door")   ? line["door"]
                             : line.contains("zone") ? line["zone"]
                                                     : line["reader"];
    return name + ":" + std::to_string(line["seq"].get<uint64_t>());
}

TEST(StreamCheckTest, TheSharedTable) {
    std::ifstream in(ZENDRIK_STREAM_VECTORS);
    ASSERT_TRUE(in) << ZENDRIK_STREAM_VECTORS;
    const Json table = Json::parse(in);
    for (const Json& row : table["rows"]) {
        SCOPED_TRACE(row["name"].get<std::string>());
        StreamChecker checker(table["gap_wait"].get<double>());
        std::vector<std::string> lines;
        for (const Json& step : row["steps"]) {
            const auto out = step.contains("tick") ? checker.Tick(step["tick"].get<double>())
                                                   : checker.Offer(step["offer"], step["at"].get<double>());
            for (const Json& line : out) {
                lines.push_back(Summary(line));
            }
        }
        EXPECT_EQ(lines, row["expect"].get<std::vector<std::string>>());
    }
}

TEST(StreamCheckTest, StateCarriesThePlaceAndWhatWasHeldAndStoredBodiesEndWithTheirGaps) {
    StreamChecker first(5);
    first.Offer(Json::parse(R"({"reader":"gate-1","seq":1})"), 0);
    first.Offer(Json::parse(R"({"reader":"gate-1","seq":3})"), 0);
    StreamChecker second(5);
    second.Load(Json::parse(first.State().dump()));
    EXPECT_TRUE(second.Offer(Json::parse(R"({"reader":"gate-1","seq":1})"), 0).empty());
    const auto lines = second.Offer(Json::parse(R"({"reader":"gate-1","seq":2})"), 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Summary(lines[1]), "gate-1:3");
    // Restored with a hole: its wait starts at the first tick.
    StreamChecker restored(5);
    restored.Load(Json::parse(first.State().dump()));
    EXPECT_TRUE(restored.Tick(100).empty());
    EXPECT_EQ(restored.Tick(105).size(), 2u);
    for (const char* bad : {R"([])", R"({"nothing":{}})", R"({"reader/g":{"lost":[[1]]}})"}) {
        StreamChecker checker(5);
        EXPECT_THROW(checker.Load(Json::parse(bad)), std::invalid_argument) << bad;
    }
    StreamChecker bodies(0);
    bodies.Offer(Json::parse(R"([{"reader":"g","seq":1},{"reader":"g","seq":4}])"), 0);
    const auto end = bodies.Finish();
    ASSERT_EQ(end.size(), 2u);
    EXPECT_EQ(Summary(end[0]), "gap g 2-3");
}

TEST(StreamCheckTest, BrokerUrls) {
    struct Case {
        const char* url;
        std::optional<std::pair<std::string, uint16_t>> expected;
    };
    const Case cases[] = {
        {"mqtt://broker.local", std::make_pair(std::string("broker.local"), uint16_t{1883})},
        {"mqtt://127.0.0.1:18830", std::make_pair(std::string("127.0.0.1"), uint16_t{18830})},
        {"mqtt://", std::nullopt},
        {"tcp://h:1", std::nullopt},
        {"mqtt://h:", std::nullopt},
        {"mqtt://h:0", std::nullopt},
        {"mqtt://h:65536", std::nullopt},
        {"mqtt://:1883", std::nullopt},
        {"mqtt://h:12x", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseBrokerUrl(c.url), c.expected) << c.url;
    }
}

}  // namespace
}  // namespace zendrik::cli
