#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/clock.h"
#include "link/hid_backend.h"
#include "link/link.h"
#include "link/serial_port.h"
#include "link/udp_link.h"
#include "link/udp_transport.h"
#include "link/usb_hid_link.h"

namespace zendrik {

// OpenCom's port number that selects the USB HID reader instead of a serial port.
inline constexpr int32_t kUsbPort = 100;

class MediumSwitch;

// The flat exports' one link: a transport of each medium, of which the one chosen last carries the
// exchanges. OpenCom chooses serial or USB, Net_Connect and the network module functions choose
// UDP; each medium keeps what it holds while another is in use (an open serial port stays open
// and locked until CloseCom, the UDP endpoints stay set). It starts on USB.
class SwitchingLink final : public Link {
  public:
    SwitchingLink(Clock& clock, std::unique_ptr<HidBackend> hid,
                  std::unique_ptr<SerialPortOpener> serialOpener, std::unique_ptr<UdpTransport> udp);

    // OpenCom: port 100 locates the USB reader, any other value opens serial port index `port`.
    // The link is on serial unless the USB reader was found.
    int32_t OpenCom(int32_t port, int32_t baud);
    // Opens a serial device by path, with OpenCom's results; the link is on serial either way.
    int32_t OpenSerialDevice(const std::string& devicePath, int32_t baud);
    // Closes the serial port, whichever medium is in use; result::kPortNotOpen when none is open.
    int32_t CloseCom();

    // See UsbHidLink::Locate; the medium in use stays as it is.
    bool LocateUsb();
    const std::optional<UsbHidLink::OpenFailure>& usb_open_failure() const;

    // Chooses the medium the next exchanges go over.
    void set_type(LinkType type);

    UdpEndpoints& udp_endpoints();
    UdpTransport& udp();
    UsbHidLink& usb();

  private:
    SwitchingLink(Clock& clock, std::unique_ptr<MediumSwitch> media);

    MediumSwitch& media_;  // the link's transport
};

}  // namespace zendrik
