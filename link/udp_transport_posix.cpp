#include "link/udp_transport_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "link/unique_fd.h"

namespace zendrik {
namespace {

// The texts are converted afresh for every socket, the way inet_addr does it: a text that is not
// a dotted address becomes 255.255.255.255 (INADDR_NONE), which then fails to bind or to send.
sockaddr_in ToSocketAddress(const UdpEndpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = ::inet_addr(endpoint.ip.c_str());
    return address;
}

void AllowBroadcast(const UniqueFd& socket) {
    const int on = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

// A receive time-out of zero would mean "wait for ever" to the kernel, so the shortest wait is 1 ms.
void SetReceiveTimeout(const UniqueFd& socket, Milliseconds timeout) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    using std::chrono::seconds;
    const Milliseconds bounded = std::max(timeout, Milliseconds{1});
    const auto wholeSeconds = duration_cast<seconds>(bounded);
    timeval value{};
    value.tv_sec = static_cast<time_t>(wholeSeconds.count());
    value.tv_usec = static_cast<suseconds_t>(duration_cast<microseconds>(bounded - wholeSeconds).count());
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

// Bind, send and receive report nothing of their own: a failed bind lets the system pick the
// source port, and a failed send shows as no answer.
class PosixUdpTransport final : public UdpTransport {
  public:
    std::optional<Datagram> Transact(const UdpEndpoints& endpoints, std::span<const uint8_t> request,
                                     const UdpTransactionOptions& options) override {
        return Exchange(endpoints, request, options);
    }

    std::optional<Datagram> Listen(const UdpEndpoints& endpoints,
                                   const UdpTransactionOptions& options) override {
        return Exchange(endpoints, std::nullopt, options);
    }

  private:
    // One socket bound to the host endpoint: sends `request` when there is one, then receives.
    static std::optional<Datagram> Exchange(const UdpEndpoints& endpoints,
                                            std::optional<std::span<const uint8_t>> request,
                                            const UdpTransactionOptions& options) {
        UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!socket) {
            return std::nullopt;
        }
        if (options.broadcast) {
            AllowBroadcast(socket);
        }
        const sockaddr_in host = ToSocketAddress(endpoints.host);
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&host), sizeof host);
        const sockaddr_in reader = ToSocketAddress(endpoints.reader);
        if (request) {
            ::sendto(socket.get(), request->data(), request->size(), 0,
                     reinterpret_cast<const sockaddr*>(&reader), sizeof reader);
        }
        const in_addr_t* from = options.onlyFromReader ? &reader.sin_addr.s_addr : nullptr;
        return ReceiveOne(socket, options.maxReceive, options.receiveTimeout, from);
    }

    // The first datagram within `timeout` (from `from` only, when given; any port); one longer than
    // `maxReceive` is cut. A signal ends the kernel's wait early (SO_RCVTIMEO is never restarted),
    // and so does a datagram from elsewhere: the wait then goes on for what is left of `timeout`
    // only, so neither signals nor strangers that send often can stretch it.
    static std::optional<Datagram> ReceiveOne(const UniqueFd& socket, std::size_t maxReceive,
                                              Milliseconds timeout, const in_addr_t* from) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Datagram datagram;
        for (Milliseconds left = timeout; left > Milliseconds::zero();
             left = std::chrono::ceil<Milliseconds>(deadline - std::chrono::steady_clock::now())) {
            datagram.bytes.resize(maxReceive);
            SetReceiveTimeout(socket, left);
            sockaddr_in sender{};
            socklen_t senderLength = sizeof sender;
            const ssize_t received = ::recvfrom(socket.get(), datagram.bytes.data(), datagram.bytes.size(), 0,
                                                reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (received < 0 && errno != EINTR) {
                return std::nullopt;  // time-out, or the socket failed
            }
            if (received < 0 || (from != nullptr && sender.sin_addr.s_addr != *from)) {
                continue;
            }
            datagram.bytes.resize(static_cast<std::size_t>(received));
            datagram.senderIpv4 = ntohl(sender.sin_addr.s_addr);
            return datagram;
        }
        return std::nullopt;
    }
};

}  // namespace

std::unique_ptr<UdpTransport> MakePosixUdpTransport() {
    return std::make_unique<PosixUdpTransport>();
}

}  // namespace zendrik
