#include <algorithm>

#include "link/frame.h"
#include "link/link.h"
#include "link/quiet_wait.h"
#include "link/result_codes.h"
#include "link/socket_layer.h"

namespace zendrik {
namespace {

constexpr UdpTransactionOptions kReaderReplyOptions{.onlyFromReader = true};
constexpr uint16_t kAnyPort = 0;

}  // namespace

void Link::AwaitUdpQuiet() {
    if (const std::optional<Milliseconds> period = TakeQuietPeriod()) {
        TraceQuietWait(AwaitQuiet(clock_, *period, [this](Milliseconds timeout) {
            UdpTransactionOptions listening = kReaderReplyOptions;
            listening.receiveTimeout = timeout;
            return udp_->Listen(udpEndpoints_, listening).has_value();
        }));
    }
}

// Over UDP the reply is one datagram; neither its CRC nor its end byte is checked. The first
// datagram from the reader's address (from any port) is taken; others are not the reader's reply.
int32_t Link::UdpExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                          std::span<uint8_t> reply) {
    if (!SocketLayerReady()) {
        return result::kSocketVersion;
    }
    AwaitUdpQuiet();
    UdpTransactionOptions options = kReaderReplyOptions;
    options.receiveTimeout = std::max(options.receiveTimeout, variant.patience);
    const std::optional<Datagram> datagram = udp_->Transact(udpEndpoints_, request, options);
    // A reply comes back to the port that asked. When the system picks the port, the next socket
    // gets another one and never hears a late reply; only a fixed host port can.
    if (udpEndpoints_.host.port != kAnyPort) {
        NoteRequestSent(kReaderReplyOptions.receiveTimeout);
    }
    if (!datagram || datagram->bytes.empty() || datagram->bytes[0] != kStartByte) {
        return result::kUdpNoReply;
    }
    const std::span<const uint8_t> bytes(datagram->bytes);
    const std::size_t announced =
        bytes.size() > kOffsetLengthLow ? ReplyFrameLength(bytes[kOffsetLengthLow]) : kFrameOverhead;
    if (announced > reply.size()) {
        return result::kBadReply;
    }
    // A datagram shorter than its header announces: the bytes it does not cover are zeros.
    const std::size_t present = std::min(announced, bytes.size());
    std::copy_n(bytes.begin(), present, reply.begin());
    std::fill_n(reply.begin() + static_cast<std::ptrdiff_t>(present), announced - present, uint8_t{0});
    return result::kOk;
}

}  // namespace zendrik
