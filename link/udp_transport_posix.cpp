#include "link/udp_transport_posix.h"

namespace zendrik {
namespace {
// Placeholder until the POSIX socket implementation lands.
class NoUdpTransport final : public UdpTransport {
public:
    std::optional<Datagram> Transact(const UdpEndpoints&, std::span<const uint8_t>,
                                     const UdpTransactionOptions&) override {
        return std::nullopt;
    }
};
}  // namespace

std::unique_ptr<UdpTransport> MakePosixUdpTransport() { return std::make_unique<NoUdpTransport>(); }

}  // namespace zendrik
