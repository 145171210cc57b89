#pragma once

#include "sim/endpoint.h"
#include "sim/network_module.h"
#include "sim/trace_log.h"
#include "sim/udp_server.h"

namespace zendrik::sim {

// The network module on UDP: answers the search and settings requests that the library broadcasts
// to port 5000. Bind it to loopback for tests, or to 0.0.0.0 inside a network namespace of the
// test's own, where broadcasts to 255.255.255.255 reach it.
class ModuleResponder {
  public:
    // Binds and starts serving; throws as UdpServer does.
    explicit ModuleResponder(const Ipv4Endpoint& endpoint,
                             const ModuleSettings& settings = DefaultModuleSettings(),
                             TraceLog* trace = nullptr);

    NetworkModule& module() { return module_; }
    const Ipv4Endpoint& endpoint() const { return server_.endpoint(); }
    uint16_t port() const { return server_.port(); }

  private:
    NetworkModule module_;
    UdpServer server_;  // after the module it answers for
};

}  // namespace zendrik::sim
