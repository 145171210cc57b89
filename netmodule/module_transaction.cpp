#include "netmodule/module_transaction.h"

#include <algorithm>

#include "link/frame.h"
#include "link/frame_trace.h"
#include "link/result_codes.h"
#include "link/socket_layer.h"

namespace zendrik {
namespace {
// Answers are single datagrams of at most this many bytes; longer ones are cut.
constexpr std::size_t kMaxAnswerBytes = 256;
// How module datagrams are labelled in the frame trace.
constexpr std::string_view kTraceLinkName = "module";
}  // namespace

int32_t ModuleTransaction(SwitchingLink& link, const ModuleNetwork& network, std::span<const uint8_t> request,
                          Datagram& answer) {
    link.udp_endpoints() = network.endpoints;
    link.set_type(LinkType::kUdp);
    if (!SocketLayerReady()) {
        return result::kSocketVersion;
    }
    UdpTransactionOptions options;
    options.broadcast = true;
    options.maxReceive = kMaxAnswerBytes;
    options.receiveTimeout = network.receiveTimeout;
    TraceSent(kTraceLinkName, request);
    std::optional<Datagram> received = link.udp().Transact(network.endpoints, request, options);
    // Only the start byte is checked: modules answer with frames whose CRC and status are not ours to judge.
    if (!received || received->bytes.empty() || received->bytes.front() != kStartByte) {
        TraceReceived(kTraceLinkName, result::kUdpNoReply, {});
        return result::kUdpNoReply;
    }
    TraceReceived(kTraceLinkName, result::kOk, received->bytes);
    answer = std::move(*received);
    return result::kOk;
}

void CopyAnswerBytes(const Datagram& answer, std::size_t offset, std::span<uint8_t> destination) {
    const std::span<const uint8_t> bytes(answer.bytes);
    const std::span<const uint8_t> available = offset < bytes.size() ? bytes.subspan(offset) : bytes.last(0);
    const std::size_t present = std::min(available.size(), destination.size());
    std::copy_n(available.begin(), present, destination.begin());
    std::fill(destination.begin() + static_cast<std::ptrdiff_t>(present), destination.end(), uint8_t{0});
}

}  // namespace zendrik
