// The HTTP side's pure parts: the metrics' exposition, an event's frame on the stream, listen
// addresses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "daemon/http/event_stream.h"
#include "daemon/config/listen_address.h"
#include "daemon/http/metrics_text.h"

namespace zendrik::daemon {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Buckets add up to +Inf = _count, a label value is escaped, and the in-sync gauge is there for
// a managed reader only.
TEST(MetricsTextTest, HistogramsAreCumulativeAndLabelsEscaped) {
    SiteSnapshot site;
    site.site = "dock\"3";
    site.mqttConnected = true;
    site.spoolMessages = 7;
    site.publishSeconds.Observe(0.0005);
    site.publishSeconds.Observe(0.003);
    site.publishSeconds.Observe(20.0);
    ReaderSnapshot managed;
    managed.name = "gate\"1\\";
    managed.settingsInSync = false;
    managed.eventsByKind = {{"arrived", 2}, {"read", 5}};
    ReaderSnapshot plain;
    plain.name = "gate-2";
    plain.linkUp = true;
    site.readers = {managed, plain};
    const std::string text = MetricsText(site);
    for (const char* line : {
             "# TYPE zendrik_publish_seconds histogram\n",
             "zendrik_publish_seconds_bucket{le=\"0.001\"} 1\n",
             "zendrik_publish_seconds_bucket{le=\"0.0025\"} 1\n",
             "zendrik_publish_seconds_bucket{le=\"0.005\"} 2\n",
             "zendrik_publish_seconds_bucket{le=\"10\"} 2\n",
             "zendrik_publish_seconds_bucket{le=\"+Inf\"} 3\n",
             "zendrik_publish_seconds_sum 20.0035\n",
             "zendrik_publish_seconds_count 3\n",
             "zendrik_round_seconds_bucket{reader=\"gate-2\",le=\"+Inf\"} 0\n",
             "zendrik_events_total{reader=\"gate\\\"1\\\\\",event=\"arrived\"} 2\n",
             "zendrik_settings_in_sync{reader=\"gate\\\"1\\\\\"} 0\n",
             "zendrik_reader_up{reader=\"gate-2\"} 1\n",
             "zendrik_spool_messages 7\n",
             "zendrik_mqtt_connected 1\n",
             "zendrik_site_info{site=\"dock\\\"3\"} 1\n",
         }) {
        EXPECT_THAT(text, HasSubstr(line));
    }
    EXPECT_THAT(text, Not(HasSubstr("zendrik_settings_in_sync{reader=\"gate-2\"}")));
    site.readers = {plain};
    EXPECT_THAT(MetricsText(site), Not(HasSubstr("zendrik_settings_in_sync")));
}

TEST(EventFrameTest, EachLineOfTheDataIsADataField) {
    EXPECT_EQ(EventFrame("gate-1", 42, "read", R"({"seq":42})"),
              "id: gate-1:42\nevent: read\ndata: {\"seq\":42}\n\n");
    EXPECT_EQ(EventFrame("g", 1, "arrived", "{\r\n\"a\":1\n}"),
              "id: g:1\nevent: arrived\ndata: {\ndata: \"a\":1\ndata: }\n\n");
}

TEST(ListenAddressTest, NumericAddressesWithTheirLoopbackness) {
    struct Case {
        const char* text;
        bool parses;
        bool loopback = false;
        bool ipv6 = false;
        uint16_t port = 0;
    };
    for (const Case& c : {
             Case{"127.0.0.1:8765", true, true, false, 8765},
             Case{"128.0.0.1:80", true, false, false, 80},
             Case{"0.0.0.0:8765", true, false, false, 8765},
             Case{"[::1]:8765", true, true, true, 8765},
             Case{"[::]:8765", true, false, true, 8765},
             Case{"[::ffff:127.0.0.1]:1", true, false, true, 1},
             Case{"localhost:8765", false, false, false, 0},
             Case{"127.0.0.1", false, false, false, 0},
             Case{"127.0.0.1:65536", false, false, false, 0},
             Case{"::1:8765", false, false, false, 0},
             Case{"[::1:8765", false, false, false, 0},
         }) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseListenAddress(c.text);
        ASSERT_EQ(std::holds_alternative<ListenAddress>(parsed), c.parses);
        if (c.parses) {
            const ListenAddress& address = std::get<ListenAddress>(parsed);
            EXPECT_EQ(address.loopback, c.loopback);
            EXPECT_EQ(address.ipv6, c.ipv6);
            EXPECT_EQ(address.port, c.port);
        }
    }
}

}  // namespace
}  // namespace zendrik::daemon
