// The session layer's pure parts: reader addresses, the reconnect delays, presence in simulated
// time, reader names and the event JSON against exact text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/address.h"
#include "session/event_json.h"
#include "session/event_queue.h"
#include "session/events.h"
#include "session/presence.h"
#include "session/reader_handle.h"
#include "session/reader_name.h"
#include "session/request.h"
#include "session/session_clock.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::session {
namespace {

using std::chrono::milliseconds;

struct AddressCase {
    std::string text;
    std::optional<ReaderAddress> parsed;  // nothing: refused
    std::string why;                      // part of the reason when refused
};

TEST(ReaderAddress, ParsesTheGrammarAndSaysWhyNot) {
    const std::vector<AddressCase> cases{
        {"usb", UsbAddress{}, ""},
        {"usb:/dev/hidraw3", UsbAddress{"/dev/hidraw3"}, ""},
        {"usb:/tmp/sim dir/hid.sock", UsbAddress{"/tmp/sim dir/hid.sock"}, ""},
        {"serial:/dev/ttyUSB0", SerialAddress{"/dev/ttyUSB0", std::nullopt, 115200}, ""},
        {"serial:COM3?baud=9600", SerialAddress{"", 2, 9600}, ""},
        {"serial:COM20", SerialAddress{"", 19, 115200}, ""},
        {"serial:COMPORT", SerialAddress{"COMPORT", std::nullopt, 115200}, ""},
        {"serial:com3", SerialAddress{"", 2, 115200}, ""},
        {"serial:Com20", SerialAddress{"", 19, 115200}, ""},
        {"serial:/dev/ttyS0?baud=14400", SerialAddress{"/dev/ttyS0", std::nullopt, 14400}, ""},
        {"udp:192.168.1.250:2000", UdpAddress{{"192.168.1.250", 2000}, {"0.0.0.0", 0}}, ""},
        {"udp:127.0.0.1:2000?local=127.0.0.1:0", UdpAddress{{"127.0.0.1", 2000}, {"127.0.0.1", 0}}, ""},
        {"", std::nullopt, "empty"},
        {"tcp:1.2.3.4:5", std::nullopt, "unknown reader kind \"tcp\""},
        {"USB", std::nullopt, "unknown reader kind"},
        {"usb:", std::nullopt, "needs the path"},
        {"serial", std::nullopt, "needs a device"},
        {"serial:?baud=9600", std::nullopt, "before the ?"},
        {"serial:COM0", std::nullopt, "not one of COM1..COM20"},
        {"serial:COM21", std::nullopt, "not one of COM1..COM20"},
        {"serial:com21", std::nullopt, "\"com21\" is not one of COM1..COM20"},
        {"serial:/dev/ttyS0?baud=4800", std::nullopt, "baud \"4800\""},
        {"serial:/dev/ttyS0?baud=", std::nullopt, "baud"},
        {"serial:/dev/ttyS0?speed=9600", std::nullopt, "expected ?baud="},
        {"udp:reader.local:2000", std::nullopt, "not a dotted IPv4"},
        {"udp:1.2.3.4", std::nullopt, "not HOST:PORT"},
        {"udp:1.2.3.4:0", std::nullopt, "port \"0\""},
        {"udp:1.2.3.4:65536", std::nullopt, "port \"65536\""},
        {"udp:1.2.3.4:-1", std::nullopt, "port"},
        {"udp:1.2.3.4:2000?local=1.2.3.4", std::nullopt, "local"},
        {"udp:1.2.3.4:2000?bind=1.2.3.4:0", std::nullopt, "expected ?local="},
        {"udp:1.2.3.256:2000", std::nullopt, "dotted IPv4"},
        {std::string(kMaxAddressLength + 1, 'u'), std::nullopt, "longer than"},
    };
    for (const AddressCase& c : cases) {
        const ParsedAddress parsed = ParseReaderAddress(c.text);
        ASSERT_EQ(parsed.address.has_value(), c.parsed.has_value()) << c.text << ": " << parsed.why;
        if (c.parsed) {
            EXPECT_TRUE(*parsed.address == *c.parsed) << c.text;
            EXPECT_TRUE(parsed.why.empty()) << c.text;
        } else {
            EXPECT_NE(parsed.why.find(c.why), std::string::npos) << c.text << ": " << parsed.why;
        }
    }
}

// The device each address opens, through the export: COM names by the port table (its variable
// overriding one of them), paths as given, nothing for the first USB reader and for UDP.
TEST(ReaderAddress, NamesTheDeviceItOpens) {
    for (const char* variable : {"ZENDRIK_COM1", "ZENDRIK_COM9", "ZENDRIK_COM13", "ZENDRIK_COM20"}) {
        ::unsetenv(variable);
    }
    ::setenv("ZENDRIK_COM2", "/dev/serial/by-id/reader", 1);
    struct Case {
        const char* address;
        int32_t result;
        const char* device;
    };
    const std::vector<Case> cases{
        {"serial:com9", ZENDRIK_OK, "/dev/ttyUSB4"},
        {"serial:COM1?baud=9600", ZENDRIK_OK, "/dev/ttyS0"},
        {"serial:COM13", ZENDRIK_OK, "/dev/ttyACM0"},
        {"serial:COM20", ZENDRIK_OK, "/dev/ttyAMA3"},
        {"serial:com2", ZENDRIK_OK, "/dev/serial/by-id/reader"},
        {"serial:/dev/ttyUSB0", ZENDRIK_OK, "/dev/ttyUSB0"},
        {"usb:/dev/hidraw3", ZENDRIK_OK, "/dev/hidraw3"},
        {"usb", ZENDRIK_OK, ""},
        {"udp:127.0.0.1:27001", ZENDRIK_OK, ""},
        {"serial:COM0", ZENDRIK_ERR_BAD_ADDRESS, ""},
    };
    for (const Case& c : cases) {
        char device[64] = "untouched";
        size_t length = 0;
        ASSERT_EQ(zendrik_address_device(c.address, device, sizeof device, &length), c.result) << c.address;
        if (c.result == ZENDRIK_OK) {
            EXPECT_STREQ(device, c.device) << c.address;
            EXPECT_EQ(length, std::strlen(c.device)) << c.address;
        }
    }
    // A buffer that cannot hold the path gets nothing and learns the length.
    char tiny[8] = "kept";
    size_t length = 0;
    EXPECT_EQ(zendrik_address_device("serial:/dev/ttyUSB0", tiny, sizeof tiny, &length),
              ZENDRIK_ERR_TOO_SMALL);
    EXPECT_STREQ(tiny, "kept");
    EXPECT_EQ(length, std::strlen("/dev/ttyUSB0"));
    EXPECT_EQ(zendrik_address_device(nullptr, tiny, sizeof tiny, &length), ZENDRIK_ERR_INVALID_ARGUMENT);
    ::unsetenv("ZENDRIK_COM2");
}

TEST(PresenceTracker, ArrivesOnTheFirstReadAndDepartsAfterTheAbsenceWithoutOne) {
    using TimePoint = Clock::TimePoint;
    const Epc tagA{0xE2, 0x00, 0x01};
    const Epc tagB{0xE2, 0x00, 0x02};
    PresenceTracker tracker(milliseconds{3000});
    const TimePoint start{};
    const auto at = [&](int ms) { return start + milliseconds{ms}; };

    PresenceRead first = tracker.Read(tagA, "00000001", at(0), 1000);
    EXPECT_TRUE(first.arrived);
    EXPECT_EQ(first.presence.count, 1u);
    PresenceRead again = tracker.Read(tagA, "00000001", at(2000), 3000);
    EXPECT_FALSE(again.arrived);
    EXPECT_EQ(again.presence.count, 2u);
    EXPECT_EQ(again.presence.firstSeenUtcMs, 1000);
    EXPECT_EQ(again.presence.lastSeenUtcMs, 3000);
    EXPECT_TRUE(tracker.Read(tagB, "", at(2500), 3500).arrived);

    // The deadline moves with every read: A is due 3000 ms after its second read, not its first.
    EXPECT_EQ(tracker.NextDeparture(), at(5000));
    EXPECT_TRUE(tracker.Depart(at(4999)).empty());
    const std::vector<Departure> gone = tracker.Depart(at(5500));
    ASSERT_EQ(gone.size(), 2u);
    EXPECT_EQ(gone[0].epc, tagA);  // the longest absent first
    EXPECT_EQ(gone[0].presence.count, 2u);
    EXPECT_EQ(gone[1].epc, tagB);
    EXPECT_EQ(tracker.present(), 0u);
    EXPECT_FALSE(tracker.NextDeparture());
    // A tag that comes back arrives again, counted afresh.
    PresenceRead back = tracker.Read(tagA, "00000001", at(6000), 7000);
    EXPECT_TRUE(back.arrived);
    EXPECT_EQ(back.presence.count, 1u);
}

TEST(ReaderName, TakesShortPrintableUtf8Only) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"dock-3", true},
        {"Tür Süd", true},
        {"\xE2\x82\xAC 1", true},    // the euro sign
        {"\xF0\x9F\x93\xA6", true},  // a four-byte character
        {std::string(63, 'r'), true},
        {std::string(64, 'r'), false},  // leaves no room for the NUL of the id field
        {"", false},
        {"line\nbreak", false},
        {"tab\there", false},
        {"del\x7F", false},
        {"\xC3", false},              // cut sequence
        {"\xC0\xAF", false},          // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\x80", false},              // continuation without a lead
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(IsValidReaderName(name), valid) << name;
    }
}

zendrik_event Public(const StreamEvent& event, std::string_view reader = "dock-3") {
    zendrik_event record;
    FillPublicEvent(event, reader, record);
    return record;
}

zendrik_event ReadEvent() {
    Presence presence{2, 1796742480000, 1796742480485, {}, "03430008"};
    const Epc epc{0xE2, 0x00, 0x34, 0x12, 0x01, 0x37, 0x60, 0x00, 0x00, 0x00, 0x00, 0x08};
    StreamEvent event = TagEvent(ZENDRIK_EVENT_READ, 1796742480485, epc, presence, 1, 0xC4);
    event.fields.seq = 7;
    return Public(event);
}

zendrik_event Completed(int32_t request, Outcome outcome) {
    StreamEvent event = CompletionEvent(1796742490002, 12, request, std::move(outcome));
    event.fields.seq = 10;
    return Public(event);
}

TEST(EventJson, WritesTheOneShapeOfEveryKind) {
    zendrik_event read = ReadEvent();
    zendrik_event arrived = read;
    arrived.kind = ZENDRIK_EVENT_ARRIVED;
    zendrik_event departed = read;
    departed.kind = ZENDRIK_EVENT_DEPARTED;
    departed.time_ms = 1796742483485;
    zendrik_event kindTwo = read;  // no antenna or signal strength, no card number
    kindTwo.antenna = -1;
    kindTwo.rssi = -1;
    kindTwo.card[0] = '\0';
    zendrik_event lost = Public(LinkEvent(ZENDRIK_EVENT_LINK_LOST, 1796742490001, ZENDRIK_ERR_UDP_NO_REPLY));
    lost.seq = 8;
    zendrik_event restored = Public(LinkEvent(ZENDRIK_EVENT_LINK_RESTORED, -1, ZENDRIK_OK), "say \"hi\"\\");
    restored.seq = 9;
    zendrik_event up = Public(LinkEvent(ZENDRIK_EVENT_LINK_UP, 1796742480000, ZENDRIK_OK));
    up.seq = 1;
    Outcome info;
    info.json = R"({"kind":0,"version":"ZR V2","serial":"5a44"})";
    Outcome refused;
    refused.result = ZENDRIK_ERR_INVALID_ARGUMENT;
    refused.message = "power must be from 0 to 33, not 40; nothing was written";
    zendrik_event unterminated = lost;  // a caller's event whose texts fill their fields
    std::memset(unterminated.reader, 'r', sizeof unterminated.reader);

    const std::string readTail = R"(,"epc":"e20034120137600000000008","card":"03430008","count":2,)"
                                 R"("first_seen":"2026-12-08T15:08:00.000Z",)";
    const std::vector<std::pair<zendrik_event, std::string>> cases{
        {read, R"({"event":"read","reader":"dock-3","seq":7,"time":"2026-12-08T15:08:00.485Z")" + readTail +
                   R"("antenna":1,"rssi":196})"},
        {kindTwo, R"({"event":"read","reader":"dock-3","seq":7,"time":"2026-12-08T15:08:00.485Z",)"
                  R"("epc":"e20034120137600000000008","card":null,"count":2,)"
                  R"("first_seen":"2026-12-08T15:08:00.000Z","antenna":null,"rssi":null})"},
        {arrived,
         R"({"event":"arrived","reader":"dock-3","seq":7,"time":"2026-12-08T15:08:00.485Z",)"
         R"("epc":"e20034120137600000000008","card":"03430008",)"
         R"("first_seen":"2026-12-08T15:08:00.000Z","last_seen":"2026-12-08T15:08:00.485Z","count":2})"},
        {departed,
         R"({"event":"departed","reader":"dock-3","seq":7,"time":"2026-12-08T15:08:03.485Z",)"
         R"("epc":"e20034120137600000000008","card":"03430008",)"
         R"("first_seen":"2026-12-08T15:08:00.000Z","last_seen":"2026-12-08T15:08:00.485Z","count":2})"},
        {lost, R"({"event":"link-lost","reader":"dock-3","seq":8,"time":"2026-12-08T15:08:10.001Z",)"
               R"("error":"no reply arrived over UDP"})"},
        {restored,
         R"({"event":"link-restored","reader":"say \"hi\"\\","seq":9,"time":"1969-12-31T23:59:59.999Z",)"
         R"("error":null})"},
        {up,
         R"({"event":"link-up","reader":"dock-3","seq":1,"time":"2026-12-08T15:08:00.000Z","error":null})"},
        {Completed(ZENDRIK_REQUEST_INFO, info),
         R"({"event":"completed","reader":"dock-3","seq":10,"time":"2026-12-08T15:08:10.002Z","request_id":12,)"
         R"("request":"info","error":null,"message":null,"result":{"kind":0,"version":"ZR V2","serial":"5a44"}})"},
        {Completed(ZENDRIK_REQUEST_CONFIGURE, refused),
         R"({"event":"completed","reader":"dock-3","seq":10,"time":"2026-12-08T15:08:10.002Z","request_id":12,)"
         R"("request":"configure","error":"an argument is missing or out of range","message":"power must be from 0 to 33, )"
         R"(not 40; nothing was written","result":null})"},
        {unterminated,
         R"({"event":"link-lost","reader":")" + std::string(sizeof unterminated.reader, 'r') +
             R"(","seq":8,"time":"2026-12-08T15:08:10.001Z","error":"no reply arrived over UDP"})"},
    };
    for (const auto& [event, expected] : cases) {
        EXPECT_EQ(EventJson(event), expected);
    }

    zendrik_event unknown = read;
    unknown.kind = 42;
    EXPECT_FALSE(EventJson(unknown));
    zendrik_event tooLong = read;
    tooLong.epc_length = ZENDRIK_EPC_CAPACITY + 1;
    EXPECT_FALSE(EventJson(tooLong));
}

// A JSON result of exactly `length` bytes ("" for 0).
std::string ResultOfLength(std::size_t length) {
    const std::string open = R"({"a":")";
    const std::string close = R"("})";
    if (length < open.size() + close.size()) {
        return std::string();
    }
    return open + std::string(length - open.size() - close.size(), 'a') + close;
}

// A request's result or message longer than the record's field: the record holds its start with
// the NUL, says which was cut and how long the whole result is, and the event JSON gives the
// length instead of a result that is no JSON. Written as zendrik_next_events writes a run, for
// callers whose records are of the first release, of the layout before the cut was said, of this
// library's and larger: each record holds what the record made alone holds, as far as the
// caller's size reaches, its texts up to their terminators, and nothing past it is touched.
TEST(EventRecords, ATextTooLongForItsFieldIsCutAndTheRecordSaysSo) {
    struct Case {
        const char* what;
        std::size_t jsonLength;
        std::size_t messageLength;
        uint32_t cut;
    };
    const Case cases[] = {
        {"no result", 0, 0, 0},
        {"a result that fills the field", ZENDRIK_JSON_CAPACITY - 1, 0, 0},
        {"a result one byte longer", ZENDRIK_JSON_CAPACITY, 0, ZENDRIK_CUT_JSON},
        {"a result five times the field", 5 * ZENDRIK_JSON_CAPACITY, 0, ZENDRIK_CUT_JSON},
        {"a message that fills its field", 0, ZENDRIK_MESSAGE_CAPACITY - 1, 0},
        {"a message one byte longer and a long result", 2 * ZENDRIK_JSON_CAPACITY, ZENDRIK_MESSAGE_CAPACITY,
         ZENDRIK_CUT_JSON | ZENDRIK_CUT_MESSAGE},
    };
    constexpr unsigned char kGuard = 0xA5;
    const std::size_t sizes[] = {ZENDRIK_EVENT_FIRST_SIZE, offsetof(zendrik_event, cut),
                                 sizeof(zendrik_event), sizeof(zendrik_event) + 8};
    for (const Case& c : cases) {
        Outcome outcome;
        outcome.json = ResultOfLength(c.jsonLength);
        outcome.message = std::string(c.messageLength, 'm');
        std::vector<StreamEvent> events;
        events.push_back(TagEvent(ZENDRIK_EVENT_READ, 1796742480485, Epc{0xE2, 0x00}, Presence{}, 1, 0xC4));
        events.push_back(CompletionEvent(1796742490002, 12, ZENDRIK_REQUEST_PLAN_CHANGE, std::move(outcome)));
        events.push_back(LinkEvent(ZENDRIK_EVENT_LINK_LOST, 1796742490003, ZENDRIK_ERR_UDP_NO_REPLY));
        const zendrik_event completed = Public(events[1]);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(completed.cut, c.cut);
        EXPECT_EQ(completed.json_length, c.jsonLength);
        const std::string& whole = events[1].completion->outcome.json;
        const std::size_t kept = std::min(whole.size(), sizeof completed.json - 1);
        EXPECT_EQ(std::string(completed.json), whole.substr(0, kept));
        EXPECT_EQ(std::strlen(completed.message), std::min(c.messageLength, sizeof completed.message - 1));
        const std::string json = EventJson(completed).value_or("");
        const std::string result =
            (c.cut & ZENDRIK_CUT_JSON) != 0
                ? R"("result":null,"result_length":)" + std::to_string(c.jsonLength) + "}"
                : R"("result":)" + (whole.empty() ? std::string("null") : whole) + "}";
        EXPECT_EQ(json.substr(json.size() - std::min(json.size(), result.size())), result);

        for (const std::size_t size : sizes) {
            SCOPED_TRACE(testing::Message() << "records of " << size << " bytes");
            std::vector<unsigned char> memory(events.size() * size, kGuard);
            WritePublicEvents(events, RecordHeadOf("dock-3"), memory.data(), size);
            for (std::size_t i = 0; i < events.size(); ++i) {
                const unsigned char* written = memory.data() + i * size;
                const zendrik_event alone = Public(events[i]);
                const auto* expected = reinterpret_cast<const unsigned char*>(&alone);
                if (size < sizeof(zendrik_event)) {
                    EXPECT_EQ(std::memcmp(written, expected, size), 0) << "record " << i;
                    continue;
                }
                const auto same = [&](std::size_t from, std::size_t to) {
                    EXPECT_EQ(std::memcmp(written + from, expected + from, to - from), 0)
                        << "record " << i << ", bytes " << from << " to " << to;
                };
                const auto text = [&](std::size_t at) {
                    same(at, at + std::strlen(reinterpret_cast<const char*>(expected + at)) + 1);
                };
                same(0, offsetof(zendrik_event, json));
                text(offsetof(zendrik_event, json));
                text(offsetof(zendrik_event, message));
                same(offsetof(zendrik_event, cut), sizeof(zendrik_event));
                EXPECT_TRUE(std::all_of(written + sizeof(zendrik_event), written + size,
                                        [](unsigned char b) { return b == kGuard; }));
            }
        }
    }
}

// The whole results of cut completions as zendrik_completion_json hands them out: within the
// caller's size or not at all, the latest ZENDRIK_CUT_RESULTS_KEPT of them, and again when asked
// again.
TEST(CutResults, TheLatestAreKeptWholeAndGivenWithinTheCallersSize) {
    ReaderAddress address = UdpAddress{};
    zendrik_reader reader("udp:127.0.0.1:9", address, nullptr, SystemSessionClockInstance());
    const std::string first = ResultOfLength(3 * ZENDRIK_JSON_CAPACITY);
    reader.actor.cut_results().Keep(1, first);
    for (uint64_t id = 2; id <= CutResults::kKept; ++id) {
        reader.actor.cut_results().Keep(id, ResultOfLength(ZENDRIK_JSON_CAPACITY + id));
    }
    struct Case {
        const char* what;
        zendrik_reader* reader;
        uint64_t id;
        std::size_t size;
        bool buffer;
        int32_t result;
        std::size_t length;  // SIZE_MAX: left as it was
        std::string text;    // as written on success
    };
    constexpr std::size_t kUntouched = SIZE_MAX;
    const std::size_t whole = first.size();
    const Case cases[] = {
        {"the whole", &reader, 1, whole + 1, true, ZENDRIK_OK, whole, first},
        {"asked again", &reader, 1, whole + 1, true, ZENDRIK_OK, whole, first},
        {"no room for the NUL", &reader, 1, whole, true, ZENDRIK_ERR_TOO_SMALL, whole, ""},
        {"only the length", &reader, 1, 0, false, ZENDRIK_ERR_TOO_SMALL, whole, ""},
        {"the latest", &reader, CutResults::kKept, 2 * whole, true, ZENDRIK_OK,
         ZENDRIK_JSON_CAPACITY + CutResults::kKept,
         ResultOfLength(ZENDRIK_JSON_CAPACITY + CutResults::kKept)},
        {"an id never cut", &reader, CutResults::kKept + 1, whole + 1, true, ZENDRIK_ERR_INVALID_ARGUMENT,
         kUntouched, ""},
        {"a null buffer with a size", &reader, 1, whole + 1, false, ZENDRIK_ERR_INVALID_ARGUMENT, kUntouched,
         ""},
        {"no handle", nullptr, 1, whole + 1, true, ZENDRIK_ERR_INVALID_ARGUMENT, kUntouched, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> buffer(c.size + 1, 'x');
        std::size_t length = kUntouched;
        EXPECT_EQ(
            zendrik_completion_json(c.reader, c.id, c.buffer ? buffer.data() : nullptr, c.size, &length),
            c.result);
        EXPECT_EQ(length, c.length);
        if (c.result == ZENDRIK_OK) {
            EXPECT_EQ(std::string(buffer.data()), c.text);
        } else {
            EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](char b) { return b == 'x'; }));
        }
    }
    // One more cut result: the oldest is no longer kept.
    reader.actor.cut_results().Keep(CutResults::kKept + 1, first);
    std::size_t length = 0;
    EXPECT_EQ(zendrik_completion_json(&reader, 1, nullptr, 0, &length), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(zendrik_completion_json(&reader, CutResults::kKept + 1, nullptr, 0, &length),
              ZENDRIK_ERR_TOO_SMALL);
    EXPECT_EQ(length, whole);
}

// A full queue drops its oldest tag events, never a completion: someone waits for that one.
TEST(EventQueue, AFullQueueDropsTheOldestTagEventsButNeverACompletion) {
    struct Case {
        const char* name;
        std::vector<int32_t> pushed;
        std::vector<int32_t> taken;
        uint64_t dropped;
    };
    constexpr int32_t kRead = ZENDRIK_EVENT_READ;
    constexpr int32_t kDone = ZENDRIK_EVENT_COMPLETED;
    const std::vector<Case> cases{
        {"reads only", {kRead, kRead, kRead}, {kRead, kRead}, 1},
        {"a completion first", {kDone, kRead, kRead, kRead}, {kDone, kRead}, 2},
        {"a completion between reads", {kRead, kDone, kRead, kRead}, {kDone, kRead}, 2},
        {"completions only go past the capacity", {kDone, kDone, kDone}, {kDone, kDone, kDone}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventQueue queue;
        queue.SetCapacity(2);
        for (const int32_t kind : c.pushed) {
            StreamEvent event;
            event.kind = kind;
            if (kind == kDone) {
                event.completion = std::make_unique<Completion>();
            }
            queue.Push(std::move(event));
        }
        std::vector<int32_t> taken;
        std::size_t count = 0;
        queue.Take(
            c.pushed.size(),
            [&](std::span<const StreamEvent> run) {
                for (const StreamEvent& event : run) {
                    taken.push_back(event.kind);
                }
            },
            milliseconds{0}, count);
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(queue.dropped(), c.dropped);
    }
}

}  // namespace
}  // namespace zendrik::session
