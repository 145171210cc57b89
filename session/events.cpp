#include "session/events.h"

#include <algorithm>

namespace zendrik::session {
namespace {

// Copies as much of `text` as fits with its NUL.
template <std::size_t N>
void CopyText(char (&field)[N], std::string_view text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = '\0';
}

zendrik_event Blank(int32_t kind, std::string_view reader, int64_t utcMs) {
    zendrik_event event{};
    event.kind = kind;
    CopyText(event.reader, reader);
    event.time_ms = utcMs;
    event.antenna = -1;
    event.rssi = -1;
    return event;
}

}  // namespace

zendrik_event TagEvent(int32_t kind, std::string_view reader, int64_t utcMs, std::span<const uint8_t> epc,
                       const Presence& presence, int32_t antenna, int32_t rssi) {
    zendrik_event event = Blank(kind, reader, utcMs);
    event.epc_length = static_cast<uint32_t>(std::min(epc.size(), sizeof event.epc));
    std::copy_n(epc.begin(), event.epc_length, event.epc);
    CopyText(event.card, presence.card);
    event.count = presence.count;
    event.first_seen_ms = presence.firstSeenUtcMs;
    event.last_seen_ms = presence.lastSeenUtcMs;
    event.antenna = antenna;
    event.rssi = rssi;
    return event;
}

zendrik_event LinkEvent(int32_t kind, std::string_view reader, int64_t utcMs, int32_t error) {
    zendrik_event event = Blank(kind, reader, utcMs);
    event.error = error;
    return event;
}

}  // namespace zendrik::session
