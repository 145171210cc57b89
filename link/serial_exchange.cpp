#include <algorithm>

#include "link/link.h"
#include "link/quiet_wait.h"
#include "link/reply_check.h"
#include "link/result_codes.h"
#include "link/serial_collect.h"

namespace zendrik {

void Link::AwaitSerialQuiet() {
    if (const std::optional<Milliseconds> period = TakeQuietPeriod()) {
        TraceQuietWait(AwaitQuiet(
            clock_, *period, [this](Milliseconds timeout) { return serial_->DropArrivingWithin(timeout); }));
    }
}

int32_t Link::SerialExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                             std::span<uint8_t> reply) {
    if (!serial_) {
        return result::kPortNotOpen;
    }
    AwaitSerialQuiet();
    serial_->Write(request);
    // A reply later than this exchange waited for it may be as late again after it gave up: the
    // quiet wait before the next request lasts as long as this exchange's whole wait.
    const Milliseconds patience = std::max(variant.patience, replyRules_.serialPatience);
    NoteRequestSent(patience + SerialReplyPatience(serial_->ByteTimeout()));
    SerialCollection collected;
    if (const int32_t result = CollectSerialReply(*serial_, collected, clock_, patience);
        result != result::kOk) {
        return result;
    }
    return CheckAndCopyReply(collected, reply);
}

}  // namespace zendrik
