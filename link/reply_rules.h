#pragma once

#include <cstdint>

#include "link/clock.h"

namespace zendrik {

// A reply frame does not say which request it answers: after an exchange that got no reply, or a
// reply that its command did not take, the reader may still be answering, and that late answer
// would be taken for the next request's.
enum class LateReplies : uint8_t {
    // Each transport drops what arrived before the next request goes out (a fresh HID handle, a
    // flushed line, a fresh socket), and nothing more: a late reply that comes after it is taken.
    kDroppedBeforeRequest,
    // Before the next request the link also waits until it has heard nothing for the unanswered
    // exchange's own answer time, dropping whatever arrives meanwhile (see AwaitQuiet). It costs
    // nothing after an exchange whose reply was taken.
    kAwaitQuiet,
};

// How closely a command checks the data length of a reply before it takes its values.
enum class ReplyShapes : uint8_t {
    kAtLeastWhatIsRead,  // a reply is refused only when it lacks bytes the command reads
    kExact,              // a reply must carry the data lengths its command is answered with
};

// What the commands that judge only the reader's answer (the retried and verified ones, the
// handshake and the identity reads) report when no attempt brought an answer they could take.
enum class UnansweredResult : uint8_t {
    kStatus,     // result::kStatus (result::kVerify for a verified set), whatever failed
    kTransport,  // the last attempt's transport failure when every attempt failed at the link,
                 // result::kStatus (result::kVerify) once the reader answered with a refusal
};

// How long a reader session's every serial exchange waits for a reply that is slow to come,
// before the link's own time-outs for the start byte begin to count. A pseudo-terminal or a USB
// serial adapter hands bytes over in a kernel worker, which a loaded machine may hold back for
// around a second each way: a reply that comes after its exchange gave up is taken for the next
// request's unless the quiet wait catches it, and a wait too short loses the link for nothing.
inline constexpr Milliseconds kSerialSessionPatience{1500};

// The link's rules for replies. The defaults are the flat exports' ways, which their callers rely
// on; reader sessions take Strict(), so that a slow or dead reader is never misread.
struct ReplyRules {
    LateReplies lateReplies = LateReplies::kDroppedBeforeRequest;
    ReplyShapes shapes = ReplyShapes::kAtLeastWhatIsRead;
    UnansweredResult unanswered = UnansweredResult::kStatus;
    // Serial: the least patience of every exchange (see ExchangeVariant::patience); the flat
    // exports keep the link's own time-outs.
    Milliseconds serialPatience{0};

    static constexpr ReplyRules Strict() {
        return {LateReplies::kAwaitQuiet, ReplyShapes::kExact, UnansweredResult::kTransport,
                kSerialSessionPatience};
    }

    bool operator==(const ReplyRules&) const = default;
};

}  // namespace zendrik
