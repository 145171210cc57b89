// The inventory's logic in simulated time: a session whose USB link is an in-process fake HID
// device answered by the virtual reader's model, stepped the way the inventory thread steps it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zendrik/zendrik_session.h"
#include "link/frame.h"
#include "link/link.h"
#include "session/event_json.h"
#include "session/inventory_engine.h"
#include "session/reader_session.h"
#include "sim/reader.h"
#include "sim/tag_field.h"
#include "tests/session/fake_usb_session.h"

namespace zendrik::session {
namespace {

using std::chrono::milliseconds;
using testing::FakeSessionClock;

constexpr double kNoJitter = 0.0;
constexpr milliseconds kAbsence{3000};

// The stream as a consumer would see it: numbered, as public records.
class CollectingSink final : public EventSink {
  public:
    explicit CollectingSink(std::vector<zendrik_event>& events) : events_(events) {}
    void Emit(StreamEvent event) override {
        event.fields.seq = events_.size() + 1;
        zendrik_event record;
        FillPublicEvent(event, "dock-3", record);
        events_.push_back(record);
    }

  private:
    std::vector<zendrik_event>& events_;
};

class EngineTest : public ::testing::Test, public testing::FakeUsbSession {
  protected:
    EngineTest() { session->set_event_sink(sink); }

    // Steps until `until` (simulated), sleeping to each next due time as the thread does.
    void RunUntil(milliseconds until) {
        while (clock.elapsed() < until) {
            const Clock::TimePoint next = engine.Step();
            clock.advance_to(std::min(next, Clock::TimePoint{} + until));
        }
    }

    std::vector<std::string> Kinds() const {
        std::vector<std::string> kinds;
        for (const zendrik_event& event : events) {
            kinds.emplace_back(EventKindName(event.kind));
        }
        return kinds;
    }

    std::vector<zendrik_event> OfKind(int32_t kind) const {
        std::vector<zendrik_event> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                     [kind](const zendrik_event& e) { return e.kind == kind; });
        return found;
    }

    std::vector<zendrik_event> events;
    CollectingSink sink{events};
    InventoryEngine engine{*session, kAbsence, [] { return kNoJitter; }};
};

TEST_F(EngineTest, ReadsBackToBackAndTurnsThemIntoPresence) {
    hid.replyDelay = milliseconds{20};  // the reader's round
    reader.AddTag(sim::SampleEpc(1));
    RunUntil(milliseconds{1000});
    reader.ClearTags();
    RunUntil(milliseconds{5000});

    const std::vector<zendrik_event> reads = OfKind(ZENDRIK_EVENT_READ);
    // Connecting takes the handshake and the two card rule reads (each 20 ms late); after that
    // every round is one reader round long, with no wait of the host's in between: 47 rounds.
    ASSERT_GE(reads.size(), 46u);
    EXPECT_LE(reads.size(), 48u);
    EXPECT_EQ(Kinds()[0], "link-up") << "the stream begins with the link's state";
    EXPECT_EQ(Kinds()[1], "arrived");
    EXPECT_EQ(reads.back().count, reads.size());
    EXPECT_EQ(reads.front().antenna, 1);
    EXPECT_EQ(reads.front().rssi, 0xC4);
    // Wiegand 26 from the factory output settings: EPC bytes 9..11 (00 00 01).
    EXPECT_STREQ(reads.front().card, "00000001");
    const std::vector<zendrik_event> departed = OfKind(ZENDRIK_EVENT_DEPARTED);
    ASSERT_EQ(departed.size(), 1u);
    // Departed exactly the absence after the last read, on the simulated clock.
    EXPECT_EQ(departed[0].time_ms - departed[0].last_seen_ms, kAbsence.count());
    EXPECT_EQ(departed[0].count, reads.size());
    EXPECT_EQ(departed[0].last_seen_ms, reads.back().time_ms);
}

TEST_F(EngineTest, AnEmptyFieldIsAskedTwentyTimesASecond) {
    RunUntil(milliseconds{1000});
    EXPECT_EQ(Kinds(), std::vector<std::string>{"link-up"});
    // One exchange per idle interval after connecting (three exchanges): the host sleeps between.
    const auto writes = static_cast<int>(hid.writtenReports.size());
    EXPECT_GE(writes, 3 + 19);
    EXPECT_LE(writes, 3 + 21);
}

TEST_F(EngineTest, ACardRuleDroppedBetweenRoundsIsReadAgainBeforeTheNextRead) {
    reader.AddTag(sim::SampleEpc(0x0102));
    RunUntil(milliseconds{100});
    ASSERT_STREQ(OfKind(ZENDRIK_EVENT_READ).back().card, "00000258");  // bytes 9..11: 00 01 02
    // A caller changed the output settings between two rounds: Wiegand 34 from byte 8, inverted.
    reader.ModifySettings([](sim::ReaderSettings& s) {
        s.wiegandFormat = 0x34;
        s.wgOutBytes = {1, 8, 4, 1};
    });
    session->ForgetCardRule();
    events.clear();
    RunUntil(milliseconds{200});
    ASSERT_FALSE(OfKind(ZENDRIK_EVENT_READ).empty());
    EXPECT_STREQ(OfKind(ZENDRIK_EVENT_READ).front().card, "0033619968");  // 02 01 00 00
}

TEST_F(EngineTest, LosesTheLinkRetriesWithBackOffAndRestoresIt) {
    reader.AddTag(sim::SampleEpc(7));
    RunUntil(milliseconds{100});
    ASSERT_TRUE(engine.link_up());
    // Unplugged: the open device takes no more writes, and no reader is listed.
    hid.failWrites = true;
    hid.devices.clear();
    hid.enumerations = 0;
    RunUntil(milliseconds{2000});
    ASSERT_FALSE(engine.link_up());
    const std::vector<zendrik_event> lost = OfKind(ZENDRIK_EVENT_LINK_LOST);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].error, ZENDRIK_ERR_NOT_REACHED);
    const int64_t lostAt = lost[0].time_ms - FakeSessionClock::kStartUtcMs;
    // Each attempt locates the device once: the round that lost the link, then attempts 100,
    // 200, 400 and 800 ms apart (at lost + 100, 300, 700, 1500), and none in between.
    EXPECT_EQ(hid.enumerations, 1 + 4);
    hid.enumerations = 0;
    RunUntil(milliseconds{lostAt + 3000});
    EXPECT_EQ(hid.enumerations, 0);
    RunUntil(milliseconds{lostAt + 3150});
    EXPECT_EQ(hid.enumerations, 1) << "the next attempt 1600 ms after the one before";
    // The tag left with the link and departs on time although the link is down.
    const std::vector<zendrik_event> departed = OfKind(ZENDRIK_EVENT_DEPARTED);
    ASSERT_EQ(departed.size(), 1u);
    EXPECT_EQ(departed[0].time_ms - departed[0].last_seen_ms, kAbsence.count());

    hid.failWrites = false;  // plugged in again
    hid.devices = {{"/fake/reader", kReaderVendorId, kReaderProductId}};
    RunUntil(milliseconds{lostAt + 6500});
    EXPECT_TRUE(engine.link_up());
    const std::vector<std::string> kinds = Kinds();
    const auto restored = std::find(kinds.begin(), kinds.end(), "link-restored");
    ASSERT_NE(restored, kinds.end());
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "link-restored"), 1);
    EXPECT_EQ(OfKind(ZENDRIK_EVENT_LINK_RESTORED)[0].error, ZENDRIK_OK);
    // Reading goes on: the tag arrives again after the restore.
    EXPECT_NE(std::find(restored, kinds.end(), "arrived"), kinds.end());
}

TEST_F(EngineTest, ASilentReaderIsLostAfterThreeRoundsNotOne) {
    reader.AddTag(sim::SampleEpc(2));
    RunUntil(milliseconds{100});
    silent = true;
    // Rounds without an answer: the first waits out the tag read's 311 ms window, each next one
    // twice as long as the one before, in case the reader only became slower.
    RunUntil(milliseconds{100 + 311 + 622});
    EXPECT_TRUE(engine.link_up());
    RunUntil(milliseconds{100 + 311 + 622 + 1244 + 20});
    EXPECT_FALSE(engine.link_up());
    const std::vector<zendrik_event> lost = OfKind(ZENDRIK_EVENT_LINK_LOST);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].error, ZENDRIK_ERR_BAD_REPLY);
}

TEST_F(EngineTest, ARoundLongerThanTheLinksOwnWaitIsLearnedAndWaitedFor) {
    static constexpr milliseconds kRoundTime{600};  // twice the tag read's 311 ms window over USB
    intercept = [this](std::span<const uint8_t> request) -> std::optional<testing::FakeHid::Bytes> {
        hid.replyDelay = request[kOffsetCommand] == command::kReadTag ? kRoundTime : milliseconds{5};
        return std::nullopt;  // the reader's model answers
    };
    reader.AddTag(sim::SampleEpc(3));
    RunUntil(milliseconds{4000});
    const std::vector<zendrik_event> reads = OfKind(ZENDRIK_EVENT_READ);
    EXPECT_TRUE(OfKind(ZENDRIK_EVENT_LINK_LOST).empty());
    ASSERT_GE(reads.size(), 5u);
    for (const zendrik_event& read : reads) {
        EXPECT_EQ(read.round_us, 600'000u);
    }
    EXPECT_EQ(engine.round_patience(), 2 * kRoundTime);
}

TEST_F(EngineTest, AReaderAbsentAtTheStartIsReportedFirstAndConnectedLater) {
    hid.devices.clear();  // no reader plugged in
    RunUntil(milliseconds{50});
    ASSERT_EQ(Kinds(), std::vector<std::string>{"link-lost"});
    EXPECT_EQ(events[0].error, ZENDRIK_ERR_NO_USB_READER);
    hid.devices = {{"/fake/reader", kReaderVendorId, kReaderProductId}};
    RunUntil(milliseconds{500});
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"link-lost", "link-restored"}));
    EXPECT_TRUE(engine.link_up());
}

}  // namespace
}  // namespace zendrik::session
