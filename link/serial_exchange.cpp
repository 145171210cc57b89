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
    NoteRequestSent(SerialReplyPatience(serial_->ByteTimeout()));
    SerialCollection collected;
    if (const int32_t result = CollectSerialReply(*serial_, collected, clock_, variant.patience);
        result != result::kOk) {
        return result;
    }
    return CheckAndCopyReply(collected, reply);
}

}  // namespace zendrik
