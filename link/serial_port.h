#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/clock.h"

namespace zendrik {

// One open serial port, as the serial exchange uses it.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Clears pending line errors, discards both queues (so a stale reply to an earlier request is
    // never taken for the next one), then writes the bytes. The outcome is not reported: a failed
    // write shows up as a missing reply.
    virtual void Write(std::span<const uint8_t> bytes) = 0;

    // One received byte, or nothing once more than 200 ms have passed without one.
    virtual std::optional<uint8_t> ReadByte() = 0;

    // How long ReadByte waits before it calls a byte missing (see ReadSerialByte).
    virtual Milliseconds ByteTimeout() const = 0;

    // Waits up to `timeout` for bytes to arrive. When some do, drops them with every byte received
    // so far and returns true at once; false when nothing came in time.
    virtual bool DropArrivingWithin(Milliseconds timeout) = 0;
};

struct SerialOpenResult {
    int32_t code = 0;                  // result::kOk or an OpenCom failure code
    std::unique_ptr<SerialPort> port;  // set when code is result::kOk
};

// Opens serial devices by path; the termios implementation in production, fakes in tests.
class SerialPortOpener {
  public:
    virtual ~SerialPortOpener() = default;
    virtual SerialOpenResult Open(const std::string& devicePath, int32_t baud) = 0;
};

}  // namespace zendrik
