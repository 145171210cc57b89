#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "link/clock.h"
#include "link/link_transport.h"
#include "link/udp_transport.h"

namespace zendrik {

// The reader behind a network module: one datagram out, the first datagram from the reader's
// address back, on a fresh socket bound to the host endpoint for every exchange.
class UdpLink final : public LinkTransport {
  public:
    UdpLink(Clock& clock, std::unique_ptr<UdpTransport> datagrams, UdpEndpoints endpoints = {});

    LinkType type() const override { return LinkType::kUdp; }
    // Nothing to open: every exchange makes its own socket.
    int32_t Reopen() override;
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) override;

    UdpEndpoints& endpoints() { return endpoints_; }
    UdpTransport& datagrams() { return *datagrams_; }

  private:
    Clock& clock_;
    std::unique_ptr<UdpTransport> datagrams_;
    UdpEndpoints endpoints_;
};

}  // namespace zendrik
