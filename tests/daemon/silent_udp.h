#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zendrik::testing {

// A UDP port on 127.0.0.1 that takes every datagram and answers none: a network reader that is
// switched on but silent. Held until destruction, so that no other program gets the port.
class SilentUdpPort {
  public:
    SilentUdpPort() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot bind a UDP port on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentUdpPort() { ::close(fd_); }
    SilentUdpPort(const SilentUdpPort&) = delete;
    SilentUdpPort& operator=(const SilentUdpPort&) = delete;

    std::string address() const { return "udp:127.0.0.1:" + std::to_string(port_); }

  private:
    int fd_;
    uint16_t port_ = 0;
};

}  // namespace zendrik::testing
