#include "sim/endpoint.h"

#include <arpa/inet.h>

#include <charconv>

namespace zendrik::sim {
namespace {

constexpr uint32_t kLoopbackNet = 0x7F000000;   // 127.0.0.0
constexpr uint32_t kLoopbackMask = 0xFF000000;  // /8

}  // namespace

std::optional<Ipv4Endpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view portText = text.substr(colon + 1);
    uint16_t port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc{} || end != portText.data() + portText.size()) {
        return std::nullopt;
    }
    Ipv4Endpoint endpoint{std::string(text.substr(0, colon)), port};
    if (!ToSocketAddress(endpoint)) {
        return std::nullopt;
    }
    return endpoint;
}

std::optional<sockaddr_in> ToSocketAddress(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    if (::inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr) != 1) {
        return std::nullopt;
    }
    return address;
}

bool IsLoopback(const Ipv4Endpoint& endpoint) {
    const std::optional<sockaddr_in> address = ToSocketAddress(endpoint);
    return address && (ntohl(address->sin_addr.s_addr) & kLoopbackMask) == kLoopbackNet;
}

}  // namespace zendrik::sim
