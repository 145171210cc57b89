#include "sim/udp_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace zendrik::sim {
namespace {

// Larger than any request; the library never sends more than 255 bytes.
constexpr std::size_t kDatagramCapacity = 512;
constexpr int kNoTimeout = -1;

UniqueFd BindSocket(const Ipv4Endpoint& endpoint) {
    const std::optional<sockaddr_in> address = ToSocketAddress(endpoint);
    if (!address) {
        throw std::invalid_argument("not an IPv4 address: " + endpoint.host);
    }
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket ||
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        throw std::system_error(errno, std::generic_category(), "bind " + endpoint.host);
    }
    return socket;
}

Ipv4Endpoint BoundEndpoint(int socket, const Ipv4Endpoint& asked) {
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        throw std::system_error(errno, std::generic_category(), "getsockname");
    }
    return {asked.host, ntohs(bound.sin_port)};
}

}  // namespace

UdpServer::UdpServer(Responder responder, const Ipv4Endpoint& endpoint, TraceLog* trace,
                     const char* transportName)
    : responder_(std::move(responder)),
      trace_(trace),
      transportName_(transportName),
      socket_(BindSocket(endpoint)),
      endpoint_(BoundEndpoint(socket_.get(), endpoint)),
      thread_([this](std::stop_token stop) { Serve(stop); }) {}

UdpServer::~UdpServer() {
    thread_.request_stop();
    wake_.Signal();
}

void UdpServer::Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::array<pollfd, 2> watched{{{socket_.get(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), kNoTimeout);
        if ((ready < 0 && errno != EINTR) || watched[1].revents != 0) {
            return;
        }
        if (watched[0].revents & POLLIN) {
            HandleDatagram();
        }
    }
}

void UdpServer::HandleDatagram() {
    std::array<uint8_t, kDatagramCapacity> buffer{};
    sockaddr_in sender{};
    socklen_t senderLength = sizeof(sender);
    const ssize_t received = ::recvfrom(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received <= 0) {
        return;
    }
    const std::span<const uint8_t> request = std::span(buffer).first(static_cast<std::size_t>(received));
    TraceReceived(trace_, transportName_, request);
    const std::optional<Reply> reply = responder_(request);
    if (!reply) {
        TraceNote(trace_, transportName_, "(no reply)");
        return;
    }
    if (reply->delay.count() > 0 && !wake_.WaitFor(reply->delay)) {
        return;
    }
    TraceSent(trace_, transportName_, reply->bytes);
    // A sender that has gone is no concern of the reader's.
    ::sendto(socket_.get(), reply->bytes.data(), reply->bytes.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&sender), senderLength);
}

}  // namespace zendrik::sim
