#include "session/reader_link.h"

#include "zendrik/zendrik.h"
#include "link/com_port_map.h"
#include "link/hid_backend_default.h"
#include "link/serial_port_posix.h"
#include "link/udp_transport_posix.h"
#include "session/single_hid_backend.h"

namespace zendrik::session {
namespace {

std::unique_ptr<HidBackend> HidBackendFor(const ReaderAddress& address) {
    const auto* usb = std::get_if<UsbAddress>(&address);
    if (usb != nullptr && !usb->path.empty()) {
        return MakeSingleDeviceHidBackend(usb->path);
    }
    return MakeDefaultHidBackend();
}

struct TransportOpener {
    Link& link;

    int32_t operator()(const UsbAddress&) const {
        link.set_type(LinkType::kUsb);
        link.ForgetUsbDevice();
        return link.LocateUsb() ? ZENDRIK_OK : ZENDRIK_ERR_NO_USB_READER;
    }

    int32_t operator()(const SerialAddress& serial) const {
        // The port of an earlier connection is closed first: it holds the device's lock.
        link.CloseCom();
        const std::string device = serial.comIndex ? ComDevicePath(*serial.comIndex) : serial.device;
        return link.OpenSerialDevice(device, serial.baud);
    }

    int32_t operator()(const UdpAddress& udp) const {
        link.set_type(LinkType::kUdp);
        link.udp_endpoints() = UdpEndpoints{udp.local, udp.reader};
        return ZENDRIK_OK;
    }
};

}  // namespace

std::unique_ptr<Link> MakeReaderLink(const ReaderAddress& address, Clock& clock) {
    auto link = std::make_unique<Link>(clock, HidBackendFor(address), MakePosixSerialOpener(clock),
                                       MakePosixUdpTransport());
    link->set_reply_wait(ReplyWait::kUntilArrived);
    link->set_reply_rules(ReplyRules::Strict());
    return link;
}

int32_t OpenTransport(Link& link, const ReaderAddress& address) {
    return std::visit(TransportOpener{link}, address);
}

}  // namespace zendrik::session
