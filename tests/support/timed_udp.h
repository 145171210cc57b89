#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "link/clock.h"
#include "link/udp_transport.h"

namespace zendrik::testing {

// The UDP link in simulated time to a reader that answers one request after another: the reply to
// a datagram sent at t arrives `replyDelay` after t, or after the reader's answer to the datagram
// before, whichever is later. Each transaction has a fresh socket: what arrived while none was
// bound is gone, and with host port 0 every socket has a port of its own, so that replies to
// earlier sockets never reach it.
class TimedUdp final : public UdpTransport {
  public:
    using Bytes = std::vector<uint8_t>;
    using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

    explicit TimedUdp(Clock& clock) : clock_(clock) {}

    Milliseconds replyDelay{0};
    Responder responder;
    std::vector<Bytes> sent;

    std::optional<Datagram> Transact(const UdpEndpoints& endpoints, std::span<const uint8_t> request,
                                     const UdpTransactionOptions& options) override {
        Bind(endpoints);
        const Bytes& datagram = sent.emplace_back(request.begin(), request.end());
        if (const std::optional<Bytes> reply = responder ? responder(datagram) : std::nullopt) {
            busyUntil_ = std::max(clock_.now() + replyDelay, busyUntil_);
            arriving_.push_back({busyUntil_, *reply});
        }
        return Receive(options.receiveTimeout);
    }

    std::optional<Datagram> Listen(const UdpEndpoints& endpoints,
                                   const UdpTransactionOptions& options) override {
        Bind(endpoints);
        return Receive(options.receiveTimeout);
    }

  private:
    struct Arrival {
        Clock::TimePoint at;
        Bytes bytes;
    };

    void Bind(const UdpEndpoints& endpoints) {
        if (endpoints.host.port == 0) {
            arriving_.clear();
            return;
        }
        std::erase_if(arriving_, [this](const Arrival& arrival) { return arrival.at < clock_.now(); });
    }

    std::optional<Datagram> Receive(Milliseconds timeout) {
        const Clock::TimePoint deadline = clock_.now() + timeout;
        if (arriving_.empty() || arriving_.front().at > deadline) {
            clock_.sleep_until(deadline);
            return std::nullopt;
        }
        clock_.sleep_until(arriving_.front().at);
        Datagram datagram{std::move(arriving_.front().bytes), 0};
        arriving_.pop_front();
        return datagram;
    }

    Clock& clock_;
    std::deque<Arrival> arriving_;
    Clock::TimePoint busyUntil_{};  // when the reader has sent its latest answer
};

}  // namespace zendrik::testing
