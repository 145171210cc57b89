#pragma once

#include <thread>

#include "link/unique_fd.h"
#include "sim/endpoint.h"
#include "sim/responder.h"
#include "sim/trace_log.h"
#include "sim/wake_event.h"

namespace zendrik::sim {

// The reader (or its network module) on UDP: each datagram is one request, answered with one
// datagram to its sender, after the reply's delay. Requests are taken one at a time, as a reader
// does: a late reply holds up the next request, and may reach the library while it waits for the
// reply to a later command. Binds exactly the endpoint given; callers keep to loopback unless the
// user named another address.
class UdpServer {
  public:
    // Binds and starts serving; throws std::system_error when the endpoint cannot be bound, or
    // std::invalid_argument when its host is not an IPv4 address.
    UdpServer(Responder responder, const Ipv4Endpoint& endpoint, TraceLog* trace = nullptr,
              const char* transportName = "udp");
    ~UdpServer();
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    // The endpoint bound, with the port the system picked when 0 was asked for.
    const Ipv4Endpoint& endpoint() const { return endpoint_; }
    uint16_t port() const { return endpoint_.port; }

  private:
    void Serve(std::stop_token stop);
    void HandleDatagram();

    Responder responder_;
    TraceLog* trace_;
    const char* transportName_;
    UniqueFd socket_;
    Ipv4Endpoint endpoint_;
    WakeEvent wake_;
    std::jthread thread_;  // last: stops before the socket closes
};

}  // namespace zendrik::sim
