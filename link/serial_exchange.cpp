#include "link/link.h"
#include "link/reply_check.h"
#include "link/result_codes.h"
#include "link/serial_collect.h"

namespace zendrik {

int32_t Link::SerialExchange(std::span<const uint8_t> request, std::span<uint8_t> reply) {
    if (!serial_) {
        return result::kPortNotOpen;
    }
    serial_->Write(request);
    SerialCollection collected;
    if (const int32_t result = CollectSerialReply(*serial_, collected); result != result::kOk) {
        return result;
    }
    return CheckAndCopyReply(collected, reply);
}

}  // namespace zendrik
