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
#include "session/reader_name.h"
#include "session/request.h"
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

// A run of records written in one go, as zendrik_next_events writes them, at every alignment an
// array of records can have and for a caller whose record is larger than the library's: each
// record holds what the record made field by field holds, and nothing outside what a record
// writes is touched (but for zeros after an empty json, within its first 32 bytes).
TEST(EventRecords, ARunHoldsWhatEachRecordHoldsAtEveryAlignment) {
    constexpr unsigned char kGuard = 0xA5;
    constexpr std::size_t kEmptyJsonZeros = 32;
    std::string reader;
    for (std::size_t i = 0; i + 1 < ZENDRIK_READER_ID_CAPACITY; ++i) {
        reader += static_cast<char>('a' + i % 26);
    }
    std::vector<StreamEvent> events;
    for (const int32_t kind : std::initializer_list<int32_t>{ZENDRIK_EVENT_READ, ZENDRIK_EVENT_ARRIVED,
                                                             ZENDRIK_EVENT_DEPARTED, ZENDRIK_EVENT_COMPLETED,
                                                             ZENDRIK_EVENT_LINK_LOST, ZENDRIK_EVENT_READ}) {
        StreamEvent event;
        if (kind == ZENDRIK_EVENT_COMPLETED) {
            Outcome refused;
            refused.result = ZENDRIK_ERR_INVALID_ARGUMENT;
            refused.message = "power must be from 0 to 33";
            refused.json = "{}";
            event = CompletionEvent(1796742490002, 12, ZENDRIK_REQUEST_CONFIGURE, std::move(refused));
        } else {
            event.kind = kind;
        }
        // Every byte of the fields its own, so that a byte put in the wrong place shows.
        std::array<unsigned char, sizeof event.fields> pattern{};
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<unsigned char>(i + 1 + 3 * events.size());
        }
        std::memcpy(&event.fields, pattern.data(), pattern.size());
        events.push_back(std::move(event));
    }
    const RecordHead head = RecordHeadOf(reader);
    for (const std::size_t size : {sizeof(zendrik_event), sizeof(zendrik_event) + 8}) {
        for (const std::size_t offset : {0, 8, 16, 24}) {
            SCOPED_TRACE(testing::Message() << "record size " << size << ", " << offset << " bytes past 32");
            std::vector<unsigned char> memory(
                2 * RecordHead::kBlock + events.size() * size + RecordHead::kBlock, kGuard);
            const auto address = reinterpret_cast<std::uintptr_t>(memory.data()) + RecordHead::kBlock;
            unsigned char* start = memory.data() + RecordHead::kBlock +
                                   (RecordHead::kBlock - address % RecordHead::kBlock) % RecordHead::kBlock +
                                   offset;
            WritePublicEvents(events, head, start, size);
            EXPECT_TRUE(std::all_of(memory.data(), start, [](unsigned char b) { return b == kGuard; }));
            EXPECT_TRUE(std::all_of(start + events.size() * size, memory.data() + memory.size(),
                                    [](unsigned char b) { return b == kGuard; }));
            for (std::size_t i = 0; i < events.size(); ++i) {
                SCOPED_TRACE(testing::Message() << "record " << i);
                const unsigned char* written = start + i * size;
                const zendrik_event expected = Public(events[i], reader);
                const auto* bytes = reinterpret_cast<const unsigned char*>(&expected);
                EXPECT_EQ(std::memcmp(written, bytes, offsetof(zendrik_event, json)), 0);
                const auto text = [&](std::size_t at, std::size_t capacity, std::size_t zerosAllowed) {
                    const std::size_t used = std::strlen(reinterpret_cast<const char*>(bytes + at)) + 1;
                    EXPECT_EQ(std::memcmp(written + at, bytes + at, used), 0);
                    for (std::size_t j = used; j < capacity; ++j) {
                        EXPECT_TRUE(written[at + j] == kGuard || (j < zerosAllowed && written[at + j] == 0))
                            << j;
                    }
                };
                text(offsetof(zendrik_event, json), ZENDRIK_JSON_CAPACITY,
                     expected.json[0] == '\0' ? kEmptyJsonZeros : 0);
                text(offsetof(zendrik_event, message), ZENDRIK_MESSAGE_CAPACITY, 0);
                EXPECT_TRUE(std::all_of(written + sizeof(zendrik_event), written + size,
                                        [](unsigned char b) { return b == kGuard; }));
            }
        }
    }
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
