#include "daemon/config/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace zendrik::daemon {
namespace {

constexpr uint32_t kLoopbackNet = 0x7f000000;  // 127.0.0.0/8
constexpr uint32_t kLoopbackMask = 0xff000000;
constexpr std::size_t kAddressTextMax = INET6_ADDRSTRLEN;

constexpr const char* kForm =
    "must be ADDRESS:PORT with a numeric address (\"127.0.0.1:8765\", \"[::1]:8765\")";

bool ParsePort(std::string_view text, uint16_t& port) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, port);
    return !text.empty() && error == std::errc{} && stop == end;
}

}  // namespace

std::variant<ListenAddress, std::string> ParseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::string(kForm);
    }
    std::string_view host = text.substr(0, colon);
    ListenAddress listen;
    if (!ParsePort(text.substr(colon + 1), listen.port)) {
        return "the port " + std::string(text.substr(colon + 1)) + " is not a number from 0 to 65535";
    }
    listen.ipv6 = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (listen.ipv6) {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host.size() >= kAddressTextMax) {
        return std::string(kForm);
    }
    const std::string hostText(host);
    if (listen.ipv6) {
        sockaddr_in6 in6{};
        if (inet_pton(AF_INET6, hostText.c_str(), &in6.sin6_addr) != 1) {
            return std::string(kForm);
        }
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(listen.port);
        listen.loopback = IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
        listen.length = sizeof in6;
        std::memcpy(&listen.address, &in6, sizeof in6);
    } else {
        sockaddr_in in4{};
        if (inet_pton(AF_INET, hostText.c_str(), &in4.sin_addr) != 1) {
            return std::string(kForm);
        }
        in4.sin_family = AF_INET;
        in4.sin_port = htons(listen.port);
        listen.loopback = (ntohl(in4.sin_addr.s_addr) & kLoopbackMask) == kLoopbackNet;
        listen.length = sizeof in4;
        std::memcpy(&listen.address, &in4, sizeof in4);
    }
    return listen;
}

}  // namespace zendrik::daemon
