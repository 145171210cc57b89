#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/link_transport.h"
#include "link/serial_port.h"

namespace zendrik {

// A serial device, by path or by COM index, and the line speed to open it at.
struct SerialDevice {
    std::string path;                 // when not given as a COM index
    std::optional<int32_t> comIndex;  // mapped to its device (ZENDRIK_COMn honoured) when opened
    int32_t baud = 0;
};

// The reader on a serial line: the request is written whole, the reply collected byte by byte
// (see CollectSerialReply) and checked.
class SerialLink final : public LinkTransport {
  public:
    // `device` is what Reopen opens; the flat exports open theirs with Open instead.
    SerialLink(Clock& clock, std::unique_ptr<SerialPortOpener> opener,
               std::optional<SerialDevice> device = std::nullopt);

    LinkType type() const override { return LinkType::kSerial; }
    // Closes the port (it holds the device's lock) and opens the device given at construction
    // afresh; result::kPortNotOpen when none was given.
    int32_t Reopen() override;
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) override;

    // Opens a serial device by path, with OpenCom's results. A port opened earlier is closed once
    // the new one is open, and kept when it cannot be.
    int32_t Open(const std::string& devicePath, int32_t baud);
    // result::kPortNotOpen when no port is open.
    int32_t Close();

  private:
    Clock& clock_;
    std::unique_ptr<SerialPortOpener> opener_;
    std::optional<SerialDevice> device_;
    std::unique_ptr<SerialPort> port_;
};

}  // namespace zendrik
