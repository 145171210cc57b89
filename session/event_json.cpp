#include "session/event_json.h"

#include <cstring>
#include <string_view>

#include "base/time_text.h"
#include "link/result_codes.h"
#include "session/events.h"
#include "session/request.h"

namespace zendrik::session {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;
// Room for a read with a 12-byte EPC and its times, so that writing one allocates once.
constexpr std::size_t kTypicalEventJson = 320;

// Appends `text` as a JSON string, quotes included.
void AppendString(std::string& json, std::string_view text) {
    json.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json.push_back('\\');
            json.push_back(c);
        } else if (byte < kFirstPrintable) {
            json.append("\\u00");
            json.push_back(kHexDigits[byte >> kNibbleBits]);
            json.push_back(kHexDigits[byte & kNibbleMask]);
        } else {
            json.push_back(c);
        }
    }
    json.push_back('"');
}

// A text field of the event, which need not end in a NUL within its array.
std::string_view FieldText(const char* field, std::size_t capacity) {
    return {field, ::strnlen(field, capacity)};
}

void AppendKey(std::string& json, std::string_view key) {
    json.push_back(',');
    json.push_back('"');
    json.append(key);
    json.append("\":");
}

void AppendTime(std::string& json, std::string_view key, int64_t utcMs) {
    AppendKey(json, key);
    json.push_back('"');
    base::AppendUtcText(json, utcMs);
    json.push_back('"');
}

void AppendNumber(std::string& json, std::string_view key, uint64_t value) {
    AppendKey(json, key);
    json.append(std::to_string(value));
}

// A byte of the reader's, or null where its kind sends none (-1).
void AppendOptionalByte(std::string& json, std::string_view key, int32_t value) {
    AppendKey(json, key);
    json.append(value < 0 ? "null" : std::to_string(value));
}

void AppendEpc(std::string& json, const zendrik_event& event) {
    AppendKey(json, "epc");
    json.push_back('"');
    for (uint32_t i = 0; i < event.epc_length; ++i) {
        json.push_back(kHexDigits[event.epc[i] >> kNibbleBits]);
        json.push_back(kHexDigits[event.epc[i] & kNibbleMask]);
    }
    json.push_back('"');
}

void AppendCard(std::string& json, const zendrik_event& event) {
    AppendKey(json, "card");
    const std::string_view card = FieldText(event.card, sizeof event.card);
    if (card.empty()) {
        json.append("null");
    } else {
        AppendString(json, card);
    }
}

bool IsLinkKind(int32_t kind) {
    return kind == ZENDRIK_EVENT_LINK_UP || kind == ZENDRIK_EVENT_LINK_LOST ||
           kind == ZENDRIK_EVENT_LINK_RESTORED;
}

// null for no failure, else the words for the code.
void AppendError(std::string& json, int32_t code) {
    AppendKey(json, "error");
    if (code == ZENDRIK_OK) {
        json.append("null");
    } else {
        AppendString(json, ResultWords(code));
    }
}

void AppendOptionalText(std::string& json, std::string_view key, std::string_view text) {
    AppendKey(json, key);
    if (text.empty()) {
        json.append("null");
    } else {
        AppendString(json, text);
    }
}

// The request's result is JSON of the library's own making: it goes in as it is, unless it was cut.
void AppendCompletion(std::string& json, const zendrik_event& event) {
    AppendNumber(json, "request_id", event.request_id);
    AppendKey(json, "request");
    AppendString(json, RequestKindName(event.request));
    AppendError(json, event.result);
    AppendOptionalText(json, "message", FieldText(event.message, sizeof event.message));
    AppendKey(json, "result");
    if ((event.cut & ZENDRIK_CUT_JSON) != 0) {
        json.append("null");  // the start of a result is no JSON
        AppendNumber(json, "result_length", event.json_length);
        return;
    }
    const std::string_view result = FieldText(event.json, sizeof event.json);
    json.append(result.empty() ? std::string_view("null") : result);
}

}  // namespace

const char* EventKindName(int32_t kind) {
    switch (kind) {
        case ZENDRIK_EVENT_READ:
            return "read";
        case ZENDRIK_EVENT_ARRIVED:
            return "arrived";
        case ZENDRIK_EVENT_DEPARTED:
            return "departed";
        case ZENDRIK_EVENT_LINK_LOST:
            return "link-lost";
        case ZENDRIK_EVENT_LINK_RESTORED:
            return "link-restored";
        case ZENDRIK_EVENT_LINK_UP:
            return "link-up";
        case ZENDRIK_EVENT_COMPLETED:
            return "completed";
        default:
            return "unknown";
    }
}

std::string JsonString(std::string_view text) {
    std::string json;
    AppendString(json, text);
    return json;
}

std::optional<std::string> EventJson(const zendrik_event& event) {
    const bool tag = IsTagEventKind(event.kind);
    const bool completed = event.kind == ZENDRIK_EVENT_COMPLETED;
    if ((!tag && !completed && !IsLinkKind(event.kind)) || event.epc_length > sizeof event.epc) {
        return std::nullopt;
    }
    std::string json;
    json.reserve(kTypicalEventJson);
    json.append("{\"event\":");
    AppendString(json, EventKindName(event.kind));
    AppendKey(json, "reader");
    AppendString(json, FieldText(event.reader, sizeof event.reader));
    AppendKey(json, "seq");
    json.append(std::to_string(event.seq));
    AppendTime(json, "time", event.time_ms);
    if (completed) {
        AppendCompletion(json, event);
    } else if (!tag) {
        AppendError(json, event.error);
    } else if (event.kind == ZENDRIK_EVENT_READ) {
        AppendEpc(json, event);
        AppendCard(json, event);
        AppendNumber(json, "count", event.count);
        AppendTime(json, "first_seen", event.first_seen_ms);
        AppendOptionalByte(json, "antenna", event.antenna);
        AppendOptionalByte(json, "rssi", event.rssi);
    } else {
        AppendEpc(json, event);
        AppendCard(json, event);
        AppendTime(json, "first_seen", event.first_seen_ms);
        AppendTime(json, "last_seen", event.last_seen_ms);
        AppendNumber(json, "count", event.count);
    }
    json.push_back('}');
    return json;
}

}  // namespace zendrik::session
