#include "link/link.h"
#include "link/reply_check.h"
#include "link/result_codes.h"
#include "link/serial_collect.h"

namespace zendrik {

int32_t Link::SerialExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                             std::span<uint8_t> reply) {
    if (!serial_) {
        return result::kPortNotOpen;
    }
    serial_->Write(request);
    // A patient exchange waits for the start byte until its patience has passed.
    const std::optional<StartByteWait> patience =
        variant.replyPatience > Milliseconds::zero()
            ? std::optional(StartByteWait{clock_, clock_.now() + variant.replyPatience})
            : std::nullopt;
    SerialCollection collected;
    if (const int32_t result = CollectSerialReply(*serial_, collected, patience); result != result::kOk) {
        return result;
    }
    return CheckAndCopyReply(collected, reply);
}

}  // namespace zendrik
