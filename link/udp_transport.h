#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"

namespace zendrik {

struct UdpEndpoint {
    std::string ip;  // dotted decimal, stored as the caller gave it
    uint16_t port = 0;
};

// The two ends of the UDP link as the link state keeps them.
struct UdpEndpoints {
    UdpEndpoint host{"192.168.1.54", 2001};
    UdpEndpoint reader{"192.168.1.250", 2000};
};

struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t senderIpv4 = 0;  // host byte order: 192.168.1.100 is 0xC0A80164
};

struct UdpTransactionOptions {
    bool broadcast = false;        // SO_BROADCAST, for the network module functions only
    std::size_t maxReceive = 256;  // longer datagrams are cut
    Milliseconds receiveTimeout{1000};
    // Reader exchanges take only datagrams sent from the reader's address (from any port), so that
    // a stranger on the network cannot answer for the reader; others are dropped and the wait goes
    // on for what is left of it. The module search takes answers from whichever module sends them.
    bool onlyFromReader = false;
};

// One datagram out, the first datagram back (the first from the reader's address, when the options
// ask for that), on a fresh socket bound to the host endpoint.
// Nothing when no datagram arrived in time or no socket could be made.
class UdpTransport {
  public:
    virtual ~UdpTransport() = default;
    virtual std::optional<Datagram> Transact(const UdpEndpoints& endpoints, std::span<const uint8_t> request,
                                             const UdpTransactionOptions& options) = 0;

    // As Transact, but sends nothing: the first datagram that reaches the host endpoint in time.
    virtual std::optional<Datagram> Listen(const UdpEndpoints& endpoints,
                                           const UdpTransactionOptions& options) = 0;
};

}  // namespace zendrik
