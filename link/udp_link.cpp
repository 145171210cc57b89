#include "link/udp_link.h"

#include <algorithm>
#include <utility>

#include "link/frame.h"
#include "link/quiet_wait.h"
#include "link/result_codes.h"
#include "link/socket_layer.h"

namespace zendrik {
namespace {

constexpr UdpTransactionOptions kReaderReplyOptions{.onlyFromReader = true};
constexpr uint16_t kAnyPort = 0;
constexpr std::string_view kTraceLinkName = "udp";

}  // namespace

UdpLink::UdpLink(Clock& clock, std::unique_ptr<UdpTransport> datagrams, UdpEndpoints endpoints)
    : clock_(clock), datagrams_(std::move(datagrams)), endpoints_(std::move(endpoints)) {}

int32_t UdpLink::Reopen() {
    return result::kOk;
}

// Over UDP the reply is one datagram; neither its CRC nor its end byte is checked. The first
// datagram from the reader's address (from any port) is taken; others are not the reader's reply.
int32_t UdpLink::Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                          std::span<uint8_t> reply, const ReplyRules&, LateReplyWatch& late) {
    if (!SocketLayerReady()) {
        return result::kSocketVersion;
    }
    AwaitQuietBeforeRequest(late, clock_, kTraceLinkName, [this](Milliseconds timeout) {
        UdpTransactionOptions listening = kReaderReplyOptions;
        listening.receiveTimeout = timeout;
        return datagrams_->Listen(endpoints_, listening).has_value();
    });
    UdpTransactionOptions options = kReaderReplyOptions;
    options.receiveTimeout = std::max(options.receiveTimeout, variant.patience);
    const std::optional<Datagram> datagram = datagrams_->Transact(endpoints_, request, options);
    // A reply comes back to the port that asked. When the system picks the port, the next socket
    // gets another one and never hears a late reply; only a fixed host port can.
    if (endpoints_.host.port != kAnyPort) {
        late.NoteRequestSent(kReaderReplyOptions.receiveTimeout);
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
