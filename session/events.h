#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "session/presence.h"
#include "session/record_layout.h"
#include "zendrik/zendrik_session.h"

// The events of a reader as the session keeps them until they are taken. A tag event is small;
// the public zendrik_event (with room for a request's whole result) is filled only when an event
// is handed out, so that a queue of many thousand reads stays small.
namespace zendrik::session {

// EPC bytes an event holds. EPCs are at most 62 bytes (31 words by their PC word), so a read that
// claims more is damaged.
inline constexpr std::size_t kMaxEpcBytes = ZENDRIK_EPC_CAPACITY;

// What a finished request brought, for its completion event or its waiting caller.
struct Outcome {
    int32_t result = ZENDRIK_OK;
    zendrik_reader_info info{};   // INFO; its kind also for every settings result
    zendrik_settings settings{};  // the settings read (back)
    std::string json;             // the result as JSON; empty on failure
    std::string message;          // on failure what went wrong; empty on success
};

struct Completion {
    uint64_t requestId = 0;
    int32_t request = 0;  // zendrik_request_kind
    Outcome outcome;
};

// What an event holds besides its kind and a request's result, in the layout of the public
// record from `seq` to `round_us` (pinned in events.cpp), so that handing out an event copies it
// at once instead of field by field.
struct EventFields {
    uint64_t seq = 0;  // given when the event enters the stream
    int64_t timeMs = 0;
    // read, arrived, departed:
    std::array<uint8_t, kMaxEpcBytes> epc{};
    uint32_t epcLength = 0;
    std::array<char, ZENDRIK_CARD_CAPACITY> card{};  // NUL-terminated
    uint64_t count = 0;
    int64_t firstSeenMs = 0;
    int64_t lastSeenMs = 0;
    int32_t antenna = -1;
    int32_t rssi = -1;
    int32_t error = ZENDRIK_OK;  // link-lost: what lost the link
    uint32_t roundUs = 0;        // read: how long the round took that brought it
};

struct StreamEvent {
    int32_t kind = 0;  // zendrik_event_kind
    EventFields fields;
    // completed:
    std::unique_ptr<Completion> completion;
};

// A read, arrived or departed event of the tag `epc` (at most ZENDRIK_EPC_CAPACITY bytes; more is
// cut), its card number and presence. `antenna` and `rssi` are -1 where the reader sends none.
StreamEvent TagEvent(int32_t kind, int64_t utcMs, std::span<const uint8_t> epc, const Presence& presence,
                     int32_t antenna = -1, int32_t rssi = -1);

// A link-up, link-lost (with the result that lost the link) or link-restored event.
StreamEvent LinkEvent(int32_t kind, int64_t utcMs, int32_t error);

StreamEvent CompletionEvent(int64_t utcMs, uint64_t requestId, int32_t request, Outcome outcome);

bool IsTagEventKind(int32_t kind);

// Whether the result's JSON fits a record's json field with its NUL: when it does not, the record
// holds its start and says it was cut, and the handle keeps the whole (cut_results.h).
bool JsonFitsRecord(const Outcome& outcome);

// The bytes of a reader's records before their fields: the kind left 0 (each record's own is
// stored over it), the reader id cut to fit with its NUL and zeros after it, and the padding.
// Made once for a reader rather than once an event.
struct RecordHead {
    std::array<unsigned char, record::kFieldsStart> bytes{};
};
RecordHead RecordHeadOf(std::string_view reader);

// The public record of `event` for the reader `reader` (or that of `head`): every field it has,
// the rest zero.
void FillPublicEvent(const StreamEvent& event, std::string_view reader, zendrik_event& out);
void FillPublicEvent(const StreamEvent& event, const RecordHead& head, zendrik_event& out);

// The first `size` bytes of that record (at most the whole of it) written into `out`, for a caller
// whose record may be older and smaller than this library's. The texts of a request's result are
// written up to their terminators; what follows one in the caller's record is left as it was.
void WritePublicEvent(const StreamEvent& event, const RecordHead& head, void* out, std::size_t size);
// The same for a run of events into an array of records of `size` bytes each.
void WritePublicEvents(std::span<const StreamEvent> events, const RecordHead& head, void* out,
                       std::size_t size);

// Where the events of a session go as they happen: numbered and queued, or handed to a callback.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Emit(StreamEvent event) = 0;
};

}  // namespace zendrik::session
