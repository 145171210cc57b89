#include "bench/raw_transports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace zendrik::bench {
namespace {

using zendrik::testing::Loopback;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The library's figures for each link, repeated here so that the baseline waits alike.
constexpr milliseconds kSerialByteTimeout{300};
constexpr milliseconds kHelloTimeout{1000};
constexpr milliseconds kUsbFirstWait{10};
constexpr milliseconds kUsbPollWait{2};
constexpr int kUsbPolls = 12;
constexpr std::size_t kHidHelloSize = 8;
constexpr std::size_t kReportSize = 65;  // report id and 64 bytes, as the virtual reader greets
constexpr std::size_t kReportIdBytes = 1;
constexpr uint8_t kStartByte = 0xAA;
constexpr std::size_t kUdpReceiveSize = 256;
constexpr time_t kUdpTimeoutSeconds = 1;

bool WaitReadable(int fd, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return false;
    }
    const timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                           static_cast<long>(left.count() % 1000000000)};
    pollfd entry{fd, POLLIN, 0};
    return ::ppoll(&entry, 1, &timeout, nullptr) > 0 && (entry.revents & POLLIN);
}

}  // namespace

RawSerialPort::RawSerialPort(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)) {
    termios line{};
    if (fd_ && ::tcgetattr(fd_.get(), &line) == 0) {
        ::cfmakeraw(&line);
        ::cfsetispeed(&line, B115200);
        ::cfsetospeed(&line, B115200);
        ::tcsetattr(fd_.get(), TCSANOW, &line);
    }
}

std::size_t RawSerialPort::RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply) {
    ::tcflush(fd_.get(), TCIOFLUSH);
    if (::write(fd_.get(), request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        return 0;
    }
    std::size_t received = 0;
    while (received < reply.size() && WaitReadable(fd_.get(), Clock::now() + kSerialByteTimeout)) {
        if (::read(fd_.get(), &reply[received], 1) == 1) {
            ++received;
        }
    }
    return received;
}

RawHidSocket::RawHidSocket(std::string path) : path_(std::move(path)) {}

UniqueFd RawHidSocket::ConnectAndGreet() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), std::min(path_.size(), sizeof address.sun_path - 1));
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !WaitReadable(socket.get(), Clock::now() + kHelloTimeout)) {
        return {};
    }
    std::array<uint8_t, kHidHelloSize> hello{};
    if (::recv(socket.get(), hello.data(), hello.size(), MSG_DONTWAIT | MSG_TRUNC) !=
        static_cast<ssize_t>(hello.size())) {
        return {};
    }
    return socket;
}

std::size_t RawHidSocket::RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply) {
    // Listing the devices: connect, read the hello, let go.
    if (!ConnectAndGreet()) {
        return 0;
    }
    // Opening the reader: the new connection replaces the one of the previous exchange.
    device_ = ConnectAndGreet();
    std::vector<uint8_t> report(kReportSize, 0);
    std::copy(request.begin(), request.end(), report.begin() + kReportIdBytes);
    if (::send(device_.get(), report.data(), report.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(report.size())) {
        return 0;
    }
    std::vector<uint8_t> input(kReportSize, 0);
    for (int poll = 0; poll < kUsbPolls; ++poll) {
        std::this_thread::sleep_until(Clock::now() + (poll == 0 ? kUsbFirstWait : kUsbPollWait));
        const ssize_t got = ::recv(device_.get(), input.data(), input.size(), MSG_DONTWAIT);
        if (got > static_cast<ssize_t>(kReportIdBytes) && input[kReportIdBytes] == kStartByte) {
            const std::size_t payload =
                std::min(reply.size(), static_cast<std::size_t>(got) - kReportIdBytes);
            std::copy_n(input.begin() + kReportIdBytes, payload, reply.begin());
            return payload;
        }
    }
    return 0;
}

RawUdpSocket::RawUdpSocket(uint16_t readerPort) : readerPort_(readerPort) {}

std::size_t RawUdpSocket::RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply) {
    const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in host = Loopback(0);
    ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&host), sizeof host);
    const sockaddr_in reader = Loopback(readerPort_);
    ::sendto(socket.get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&reader),
             sizeof reader);
    const timeval timeout{kUdpTimeoutSeconds, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::array<uint8_t, kUdpReceiveSize> datagram{};
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t got = ::recvfrom(socket.get(), datagram.data(), datagram.size(), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got <= 0) {
        return 0;
    }
    const std::size_t taken = std::min(reply.size(), static_cast<std::size_t>(got));
    std::copy_n(datagram.begin(), taken, reply.begin());
    return taken;
}

}  // namespace zendrik::bench
