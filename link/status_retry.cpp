#include "link/status_retry.h"

#include "link/command_reply.h"

namespace zendrik {

bool ExchangeUntilStatusOk(Link& link, std::span<const ExchangeVariant> attempts,
                           std::span<const uint8_t> request, std::span<uint8_t> reply,
                           std::size_t dataNeeded) {
    for (const ExchangeVariant& variant : attempts) {
        link.Exchange(variant, request, reply);
        if (ReplyCarries(reply, dataNeeded)) {
            return true;
        }
    }
    return false;
}

}  // namespace zendrik
