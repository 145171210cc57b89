#include "session/events.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

#include "session/record_layout.h"

namespace zendrik::session {
namespace {

// Copies as much of `text` as fits with its NUL.
void CopyText(char* field, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = '\0';
}

StreamEvent Blank(int32_t kind, int64_t utcMs) {
    StreamEvent event;
    event.kind = kind;
    event.fields.timeMs = utcMs;
    return event;
}

}  // namespace

bool JsonFitsRecord(const Outcome& outcome) {
    return outcome.json.size() < ZENDRIK_JSON_CAPACITY;
}

bool IsTagEventKind(int32_t kind) {
    return kind == ZENDRIK_EVENT_READ || kind == ZENDRIK_EVENT_ARRIVED || kind == ZENDRIK_EVENT_DEPARTED;
}

StreamEvent TagEvent(int32_t kind, int64_t utcMs, std::span<const uint8_t> epc, const Presence& presence,
                     int32_t antenna, int32_t rssi) {
    StreamEvent event = Blank(kind, utcMs);
    EventFields& fields = event.fields;
    fields.epcLength = static_cast<uint32_t>(std::min(epc.size(), fields.epc.size()));
    std::copy_n(epc.begin(), fields.epcLength, fields.epc.begin());
    CopyText(fields.card.data(), fields.card.size(), presence.card);
    fields.count = presence.count;
    fields.firstSeenMs = presence.firstSeenUtcMs;
    fields.lastSeenMs = presence.lastSeenUtcMs;
    fields.antenna = antenna;
    fields.rssi = rssi;
    return event;
}

StreamEvent LinkEvent(int32_t kind, int64_t utcMs, int32_t error) {
    StreamEvent event = Blank(kind, utcMs);
    event.fields.error = error;
    return event;
}

StreamEvent CompletionEvent(int64_t utcMs, uint64_t requestId, int32_t request, Outcome outcome) {
    StreamEvent event = Blank(ZENDRIK_EVENT_COMPLETED, utcMs);
    event.completion = std::make_unique<Completion>(Completion{requestId, request, std::move(outcome)});
    return event;
}

namespace {

using record::kFieldsEnd;
using record::kFieldsStart;
using record::kFixedPart;

// EventFields is the public record's run from `seq` to `round_us`, byte for byte.
static_assert(sizeof(EventFields) == kFieldsEnd - kFieldsStart);
static_assert(std::is_trivially_copyable_v<EventFields>);
#define ZENDRIK_FIELD_AT(member, field)                                                           \
    static_assert(offsetof(EventFields, member) == offsetof(zendrik_event, field) - kFieldsStart, \
                  "EventFields." #member " is not where zendrik_event." #field " is")
ZENDRIK_FIELD_AT(timeMs, time_ms);
ZENDRIK_FIELD_AT(epc, epc);
ZENDRIK_FIELD_AT(epcLength, epc_length);
ZENDRIK_FIELD_AT(card, card);
ZENDRIK_FIELD_AT(count, count);
ZENDRIK_FIELD_AT(firstSeenMs, first_seen_ms);
ZENDRIK_FIELD_AT(lastSeenMs, last_seen_ms);
ZENDRIK_FIELD_AT(antenna, antenna);
ZENDRIK_FIELD_AT(rssi, rssi);
ZENDRIK_FIELD_AT(error, error);
ZENDRIK_FIELD_AT(roundUs, round_us);
#undef ZENDRIK_FIELD_AT

// The part of the fixed part that only a completion has.
constexpr std::size_t kResultStart = kFieldsEnd;

// Zeroes N bytes as a run of 64-byte copies of zeros. A memset of a few hundred bytes is compiled
// to a string instruction here, whose start costs more than all the rest of an event's copy.
template <std::size_t N>
void ZeroRun(unsigned char* at) {
    constexpr std::size_t kPiece = 64;
    static constexpr std::array<unsigned char, kPiece> kZeros{};
    for (std::size_t done = 0; done + kPiece <= N; done += kPiece) {
        std::memcpy(at + done, kZeros.data(), kPiece);
    }
    std::memcpy(at + N / kPiece * kPiece, kZeros.data(), N % kPiece);
}

// Fills the fixed part of `out` but for the texts of a request's result. Every size here is known
// when compiling, so the copies are a few wide moves: a batch of events costs little more than
// the bytes it writes.
void FillFixedPart(const StreamEvent& event, const RecordHead& head, zendrik_event& out) {
    auto* bytes = reinterpret_cast<unsigned char*>(&out);
    std::memcpy(bytes, head.bytes.data(), kFieldsStart);
    out.kind = event.kind;
    std::memcpy(bytes + kFieldsStart, &event.fields, sizeof event.fields);
    const Completion* completion = event.completion.get();
    if (completion == nullptr) {
        ZeroRun<kFixedPart - kResultStart>(bytes + kResultStart);
        return;
    }
    const Outcome& outcome = completion->outcome;
    out.request_id = completion->requestId;
    out.request = completion->request;
    out.result = outcome.result;
    out.info = outcome.info;
    out.settings = outcome.settings;
}

// The texts of a request's result, and what of them did not fit.
void FillTexts(const StreamEvent& event, zendrik_event& out) {
    const Completion* completion = event.completion.get();
    if (completion == nullptr) {
        out.json[0] = '\0';
        out.message[0] = '\0';
        out.cut = 0;
        out.json_length = 0;
        return;
    }
    const Outcome& outcome = completion->outcome;
    CopyText(out.json, sizeof out.json, outcome.json);
    CopyText(out.message, sizeof out.message, outcome.message);
    out.cut = (JsonFitsRecord(outcome) ? 0u : static_cast<uint32_t>(ZENDRIK_CUT_JSON)) |
              (outcome.message.size() < sizeof out.message ? 0u : static_cast<uint32_t>(ZENDRIK_CUT_MESSAGE));
    out.json_length = static_cast<uint32_t>(
        std::min<std::size_t>(outcome.json.size(), std::numeric_limits<uint32_t>::max()));
}

// A record of this library's size or more, its texts written only as far as their terminators.
void WriteRecord(const StreamEvent& event, const RecordHead& head, zendrik_event& out) {
    FillFixedPart(event, head, out);
    FillTexts(event, out);
}

void FillWholeEvent(const StreamEvent& event, const RecordHead& head, zendrik_event& out) {
    std::memset(&out, 0, sizeof out);
    FillFixedPart(event, head, out);
    FillTexts(event, out);
}

}  // namespace

RecordHead RecordHeadOf(std::string_view reader) {
    RecordHead head;
    CopyText(reinterpret_cast<char*>(head.bytes.data() + offsetof(zendrik_event, reader)),
             ZENDRIK_READER_ID_CAPACITY, reader);
    return head;
}

void FillPublicEvent(const StreamEvent& event, std::string_view reader, zendrik_event& out) {
    FillWholeEvent(event, RecordHeadOf(reader), out);
}

void FillPublicEvent(const StreamEvent& event, const RecordHead& head, zendrik_event& out) {
    FillWholeEvent(event, head, out);
}

// Tags come by the thousand: a record is written in place, and only as far as its texts' ends.
void WritePublicEvent(const StreamEvent& event, const RecordHead& head, void* out, std::size_t size) {
    if (size >= sizeof(zendrik_event)) {
        WriteRecord(event, head, *static_cast<zendrik_event*>(out));
        return;
    }
    zendrik_event whole;
    if (size <= kFixedPart) {
        FillFixedPart(event, head, whole);  // the texts are not copied out
    } else {
        FillWholeEvent(event, head, whole);
    }
    std::memcpy(out, &whole, size);
}

void WritePublicEvents(std::span<const StreamEvent> events, const RecordHead& head, void* out,
                       std::size_t size) {
    auto* next = static_cast<unsigned char*>(out);
    if (size < sizeof(zendrik_event)) {
        for (const StreamEvent& event : events) {
            WritePublicEvent(event, head, next, size);
            next += size;
        }
        return;
    }
    for (const StreamEvent& event : events) {
        WriteRecord(event, head, *reinterpret_cast<zendrik_event*>(next));
        next += size;
    }
}

}  // namespace zendrik::session
