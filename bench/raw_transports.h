#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "link/unique_fd.h"

namespace zendrik::bench {

// The transport work of one exchange without any protocol logic: the same system calls in the same
// pattern as the library's links make them, writing fixed request bytes and taking as many reply
// bytes as are known to come. Each returns the number of reply bytes received, which must equal
// the expected count for the round trip to count.

// A serial port on a pseudo-terminal: flush both queues, write the request, then read the reply one
// byte at a time, each behind a poll with its own deadline.
class RawSerialPort {
  public:
    explicit RawSerialPort(const std::string& path);
    std::size_t RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply);

  private:
    UniqueFd fd_;
};

// A virtual HID device on a Unix socket. Like the library's USB exchange it locates the device
// afresh every time (one connection to read the hello while listing, one to open), writes one
// output report, sleeps the first wait, then polls without blocking, sleeping between polls.
class RawHidSocket {
  public:
    explicit RawHidSocket(std::string path);
    std::size_t RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply);

  private:
    UniqueFd ConnectAndGreet() const;

    std::string path_;
    UniqueFd device_;
};

// UDP on loopback: a fresh socket per exchange, bound to an ephemeral port, one datagram out and one
// back under a receive time-out.
class RawUdpSocket {
  public:
    explicit RawUdpSocket(uint16_t readerPort);
    std::size_t RoundTrip(std::span<const uint8_t> request, std::span<uint8_t> reply);

  private:
    uint16_t readerPort_;
};

}  // namespace zendrik::bench
