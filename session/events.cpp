#include "session/events.h"

#include <algorithm>
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

void FillPublicEvent(const StreamEvent& event, std::string_view reader, zendrik_event& out) {
    std::memset(&out, 0, sizeof out);
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
    if (const Completion* completion = event.completion.get()) {
        const Outcome& outcome = completion->outcome;
        out.request_id = completion->requestId;
        out.request = completion->request;
        out.result = outcome.result;
        out.info = outcome.info;
        out.settings = outcome.settings;
        CopyText(out.json, sizeof out.json, outcome.json);
        CopyText(out.message, sizeof out.message, outcome.message);
    }
}

void WritePublicEvent(const StreamEvent& event, std::string_view reader, void* out, std::size_t size) {
    if (size >= sizeof(zendrik_event)) {
        FillPublicEvent(event, reader, *static_cast<zendrik_event*>(out));
        return;
    }
    zendrik_event whole;
    FillPublicEvent(event, reader, whole);
    std::memcpy(out, &whole, size);
}

}  // namespace zendrik::session
