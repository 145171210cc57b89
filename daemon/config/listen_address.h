#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace zendrik::daemon {

// Where the HTTP server listens: a numeric address and a port, "127.0.0.1:8765" or "[::1]:8765".
// Names are not taken: what the server binds to must not depend on a resolver at start-up.
struct ListenAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    uint16_t port = 0;
    bool ipv6 = false;
    bool loopback = false;  // in 127.0.0.0/8, or ::1
};

// The address, or why the text is not one.
std::variant<ListenAddress, std::string> ParseListenAddress(std::string_view text);

}  // namespace zendrik::daemon
