#include "session/events.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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
    event.timeMs = utcMs;
    return event;
}

}  // namespace

bool IsTagEventKind(int32_t kind) {
    return kind == ZENDRIK_EVENT_READ || kind == ZENDRIK_EVENT_ARRIVED || kind == ZENDRIK_EVENT_DEPARTED;
}

StreamEvent TagEvent(int32_t kind, int64_t utcMs, std::span<const uint8_t> epc, const Presence& presence,
                     int32_t antenna, int32_t rssi) {
    StreamEvent event = Blank(kind, utcMs);
    event.epcLength = static_cast<uint32_t>(std::min(epc.size(), event.epc.size()));
    std::copy_n(epc.begin(), event.epcLength, event.epc.begin());
    CopyText(event.card.data(), event.card.size(), presence.card);
    event.count = presence.count;
    event.firstSeenMs = presence.firstSeenUtcMs;
    event.lastSeenMs = presence.lastSeenUtcMs;
    event.antenna = antenna;
    event.rssi = rssi;
    return event;
}

StreamEvent LinkEvent(int32_t kind, int64_t utcMs, int32_t error) {
    StreamEvent event = Blank(kind, utcMs);
    event.error = error;
    return event;
}

StreamEvent CompletionEvent(int64_t utcMs, uint64_t requestId, int32_t request, Outcome outcome) {
    StreamEvent event = Blank(ZENDRIK_EVENT_COMPLETED, utcMs);
    event.completion = std::make_unique<Completion>(Completion{requestId, request, std::move(outcome)});
    return event;
}

namespace {

// Everything before the texts of a request's result: the part of the record each event fills.
constexpr std::size_t kFixedPart = offsetof(zendrik_event, json);

// Fills the first `reach` bytes of `out` (at least the first release's record) but for the texts of
// a request's result.
void FillFixedPart(const StreamEvent& event, std::string_view reader, zendrik_event& out,
                   std::size_t reach = kFixedPart) {
    std::memset(&out, 0, std::min(reach, kFixedPart));
    out.kind = event.kind;
    CopyText(out.reader, sizeof out.reader, reader);
    out.seq = event.seq;
    out.time_ms = event.timeMs;
    out.error = event.error;
    out.antenna = -1;
    out.rssi = -1;
    if (IsTagEventKind(event.kind)) {
        std::copy_n(event.epc.begin(), event.epcLength, out.epc);
        out.epc_length = event.epcLength;
        std::copy(event.card.begin(), event.card.end(), out.card);
        out.count = event.count;
        out.first_seen_ms = event.firstSeenMs;
        out.last_seen_ms = event.lastSeenMs;
        out.antenna = event.antenna;
        out.rssi = event.rssi;
        out.round_us = event.roundUs;
    }
    const Completion* completion = event.completion.get();
    if (completion != nullptr && reach > offsetof(zendrik_event, request_id)) {
        const Outcome& outcome = completion->outcome;
        out.request_id = completion->requestId;
        out.request = completion->request;
        out.result = outcome.result;
        out.info = outcome.info;
        out.settings = outcome.settings;
    }
}

void FillTexts(const StreamEvent& event, zendrik_event& out) {
    const Completion* completion = event.completion.get();
    CopyText(out.json, sizeof out.json,
             completion != nullptr ? completion->outcome.json : std::string_view());
    CopyText(out.message, sizeof out.message,
             completion != nullptr ? completion->outcome.message : std::string_view());
}

}  // namespace

void FillPublicEvent(const StreamEvent& event, std::string_view reader, zendrik_event& out) {
    std::memset(&out, 0, sizeof out);
    FillFixedPart(event, reader, out);
    FillTexts(event, out);
}

// Tags come by the thousand: a record is written in place, and only as far as its texts' ends.
void WritePublicEvent(const StreamEvent& event, std::string_view reader, void* out, std::size_t size) {
    if (size >= sizeof(zendrik_event)) {
        auto& record = *static_cast<zendrik_event*>(out);
        FillFixedPart(event, reader, record);
        FillTexts(event, record);
        return;
    }
    zendrik_event whole;
    if (size <= kFixedPart) {
        FillFixedPart(event, reader, whole, size);  // the texts are not copied out
    } else {
        FillPublicEvent(event, reader, whole);
    }
    std::memcpy(out, &whole, size);
}

}  // namespace zendrik::session
