#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// What a reader says about itself, for its retained status.
struct ReaderIdentity {
    int32_t kind = 0;
    std::string version;
    std::string serial;
};

// A request for the reader's own queue: a zendrik_request_kind and, for a plan or a change, the
// assignments as `zendrik set` takes them ("power=26").
struct ReaderRequest {
    int32_t kind = 0;
    std::vector<std::string> assignments;
};

// A completed request as the daemon hands it on: the library's record, and the whole of its
// result as JSON, of which the record's json holds only the start when it is long; nothing when
// the whole could not be had.
struct RequestEnd : zendrik_event {
    std::optional<std::string> resultJson;
};

// Where one configured reader's events come from: a reader session in the daemon, a scripted
// source in tests. Open, Start, Stop and the destructor may block as long as the reader takes
// to answer or to be given up (a second and more for one that is silent): the daemon calls them
// off its loop, one at a time per source. eventFd, Next and dropped never block; the loop calls
// them, also while one of the others runs.
class ReaderSource {
  public:
    // Closes the reader.
    virtual ~ReaderSource() = default;

    // Opens the reader, also when it does not answer yet. The reason when it cannot be opened at all.
    virtual std::optional<std::string> Open() = 0;
    // Starts reading (with link-lost first when the reader does not answer; it connects when it
    // can). The reason when it cannot.
    virtual std::optional<std::string> Start() = 0;
    // Readable while events are queued; valid once Open() succeeded.
    virtual int eventFd() const = 0;
    // Takes the oldest queued event without waiting; false when none is queued.
    virtual bool Next(zendrik_event& event) = 0;
    // Takes up to `events.size()` of the oldest queued events at once, without waiting; how many.
    virtual std::size_t NextEvents(std::span<zendrik_event> events) {
        std::size_t taken = 0;
        while (taken < events.size() && Next(events[taken])) {
            ++taken;
        }
        return taken;
    }
    // Stops reading; events already queued stay to be taken.
    virtual void Stop() = 0;
    // Queues a request without waiting for the reader (the loop calls it): its end comes through
    // Next() as a completed event with the id given here. The id, or the library's result code
    // when nothing was queued. A source without a reader behind it queues nothing.
    virtual std::variant<uint64_t, int32_t> Submit(const ReaderRequest&) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    // The whole result of a completion taken from this source: the record's json, or, when the
    // record says that was cut, the whole the source keeps; nothing when it keeps none (a
    // scripted source keeps none).
    virtual std::optional<std::string> WholeResult(const zendrik_event& completed) {
        if ((completed.cut & ZENDRIK_CUT_JSON) != 0) {
            return std::nullopt;
        }
        return std::string(completed.json, strnlen(completed.json, sizeof completed.json));
    }
    // Events the source had to drop before the daemon took them (a full queue), since it opened.
    virtual uint64_t dropped() const = 0;
};

}  // namespace zendrik::daemon
