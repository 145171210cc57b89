#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik::sim {

inline constexpr const char* kLoopbackHost = "127.0.0.1";

// An IPv4 address in dotted decimal and a port.
struct Ipv4Endpoint {
    std::string host = kLoopbackHost;
    uint16_t port = 0;  // 0: the system picks one

    bool operator==(const Ipv4Endpoint&) const = default;
};

// "HOST:PORT" (PORT 0 to 65535; HOST dotted decimal). Nothing when either part is malformed.
std::optional<Ipv4Endpoint> ParseEndpoint(std::string_view text);

// The socket address, or nothing when the host is not a dotted-decimal IPv4 address.
std::optional<sockaddr_in> ToSocketAddress(const Ipv4Endpoint& endpoint);

// Whether the host lies in 127.0.0.0/8.
bool IsLoopback(const Ipv4Endpoint& endpoint);

}  // namespace zendrik::sim
