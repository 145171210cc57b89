#pragma once

// Loopback stand-ins for a reader or a network module, and a transport wrapper that keeps silent
// cases short. Everything here binds and sends on 127.0.0.0/8 only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/udp_transport.h"
#include "link/udp_transport_posix.h"
#include "link/unique_fd.h"

namespace zendrik::testing {

inline sockaddr_in LoopbackAddress(const std::string& ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1 ||
        (ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        throw std::invalid_argument("test peers live on loopback only: " + ip);
    }
    return address;
}

struct ReceivedDatagram {
    std::vector<uint8_t> bytes;
    sockaddr_in sender{};
    uint16_t senderPort() const { return ntohs(sender.sin_port); }
};

// One UDP socket on a loopback address; port 0 lets the system choose.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(const std::string& ip = "127.0.0.1", uint16_t port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in address = LoopbackAddress(ip, port);
        if (!fd_ || ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind a loopback test socket");
        }
    }

    uint16_t port() const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    std::optional<ReceivedDatagram> Receive(std::chrono::milliseconds timeout) const {
        pollfd waiting{fd_.get(), POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1) {
            return std::nullopt;
        }
        ReceivedDatagram datagram;
        datagram.bytes.resize(kLargestDatagram);
        socklen_t length = sizeof datagram.sender;
        const ssize_t received = ::recvfrom(fd_.get(), datagram.bytes.data(), datagram.bytes.size(), 0,
                                            reinterpret_cast<sockaddr*>(&datagram.sender), &length);
        if (received < 0) {
            return std::nullopt;
        }
        datagram.bytes.resize(static_cast<std::size_t>(received));
        return datagram;
    }

    void SendTo(const std::vector<uint8_t>& bytes, const sockaddr_in& destination) const {
        ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&destination),
                 sizeof destination);
    }

  private:
    static constexpr std::size_t kLargestDatagram = 65536;
    UniqueFd fd_;
};

// A loopback port that was free a moment ago, for a host endpoint that several sockets in a row bind.
inline uint16_t FreeLoopbackPort() {
    return LoopbackSocket().port();
}

// Plays the far end on its own thread: every datagram that reaches `listener` is recorded and
// handed to the script with its index (0 for the first), which answers as it likes.
class ScriptedPeer {
  public:
    using Script = std::function<void(const ReceivedDatagram& request, std::size_t index,
                                      const LoopbackSocket& listener)>;

    explicit ScriptedPeer(Script script, const std::string& ip = "127.0.0.1")
        : listener_(ip), script_(std::move(script)), thread_([this] { Serve(); }) {}
    ~ScriptedPeer() { Stop(); }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t port() const { return listener_.port(); }

    // Stops serving; the requests are complete afterwards.
    void Stop() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::vector<std::vector<uint8_t>> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<uint16_t> senderPorts() const {
        std::lock_guard lock(mutex_);
        return senderPorts_;
    }

  private:
    void Serve() {
        while (!stopping_) {
            const std::optional<ReceivedDatagram> request = listener_.Receive(std::chrono::milliseconds{10});
            if (!request) {
                continue;
            }
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                index = requests_.size();
                requests_.push_back(request->bytes);
                senderPorts_.push_back(request->senderPort());
            }
            script_(*request, index, listener_);
        }
    }

    LoopbackSocket listener_;
    Script script_;
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> requests_;
    std::vector<uint16_t> senderPorts_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The POSIX transport with a shorter receive time-out, recording the options the library asked for.
class ShortWaitTransport final : public UdpTransport {
  public:
    explicit ShortWaitTransport(std::chrono::milliseconds wait) : wait_(wait) {}

    std::optional<Datagram> Transact(const UdpEndpoints& endpoints, std::span<const uint8_t> request,
                                     const UdpTransactionOptions& options) override {
        asked_.push_back(options);
        UdpTransactionOptions shortened = options;
        shortened.receiveTimeout = wait_;
        return posix_->Transact(endpoints, request, shortened);
    }

    std::optional<Datagram> Listen(const UdpEndpoints& endpoints,
                                   const UdpTransactionOptions& options) override {
        UdpTransactionOptions shortened = options;
        shortened.receiveTimeout = std::min(options.receiveTimeout, wait_);
        return posix_->Listen(endpoints, shortened);
    }

    const std::vector<UdpTransactionOptions>& asked() const { return asked_; }

  private:
    std::chrono::milliseconds wait_;
    std::unique_ptr<UdpTransport> posix_ = MakePosixUdpTransport();
    std::vector<UdpTransactionOptions> asked_;
};

// A reply frame with the given status and data; the CRC is left as 00 00 since the UDP link never checks it.
inline std::vector<uint8_t> UncheckedReply(uint8_t status, const std::vector<uint8_t>& data) {
    // Sized once and filled in place: growing the vector piecewise trips a false -Warray-bounds in g++ 12
    // -O2.
    std::vector<uint8_t> frame(data.size() + kFrameOverhead, 0x00);
    frame[0] = kStartByte;
    frame[kOffsetAddress] = 0xFF;
    frame[kOffsetStatus] = status;
    frame[kOffsetLengthLow] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + kOffsetData);
    frame.back() = kEndByte;
    return frame;
}

}  // namespace zendrik::testing
