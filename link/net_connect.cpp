#include "link/net_connect.h"

#include <array>

#include "link/frame.h"
#include "link/frame_trace.h"
#include "link/result_codes.h"
#include "link/socket_layer.h"

namespace zendrik {
namespace {

constexpr int kConnectAttempts = 2;
// Only the start byte of the answer is looked at; a few more bytes are read and dropped.
constexpr std::size_t kProbeAnswerBytes = 16;
// Handshake to every reader with the value 1, the same probe the tool sends on the other links.
constexpr uint8_t kProbeValue = 1;
// The probe travels outside the exchange, so it is traced here under the UDP link's name.
constexpr std::string_view kTraceLinkName = "udp";

int32_t ConnectAttempt(SwitchingLink& link, const UdpEndpoints& endpoints) {
    link.udp_endpoints() = endpoints;
    link.set_type(LinkType::kUdp);
    if (!SocketLayerReady()) {
        return result::kSocketVersion;
    }
    const std::array<uint8_t, 1> data{kProbeValue};
    const std::vector<uint8_t> probe = BuildStandardFrame(kBroadcastAddress, command::kHandshake, data);
    UdpTransactionOptions options;
    options.maxReceive = kProbeAnswerBytes;
    options.onlyFromReader = true;
    TraceSent(kTraceLinkName, probe);
    const std::optional<Datagram> answer = link.udp().Transact(endpoints, probe, options);
    // Neither the CRC nor the status matter: any answer from the reader's address that starts a
    // frame will do.
    if (!answer || answer->bytes.empty() || answer->bytes.front() != kStartByte) {
        TraceReceived(kTraceLinkName, result::kNotReached, {});
        return result::kNotReached;
    }
    TraceReceived(kTraceLinkName, result::kOk, answer->bytes);
    return result::kOk;
}

}  // namespace

UdpEndpoint EndpointFromArguments(const char* ip, int32_t port) {
    return UdpEndpoint{ip != nullptr ? ip : "", static_cast<uint16_t>(port)};
}

int32_t NetConnect(SwitchingLink& link, const UdpEndpoints& endpoints) {
    int32_t result = result::kNotReached;
    for (int attempt = 0; attempt < kConnectAttempts && result != result::kOk; ++attempt) {
        result = ConnectAttempt(link, endpoints);
    }
    return result;
}

}  // namespace zendrik
