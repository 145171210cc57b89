#include "session/reader_link.h"

#include "link/hid_backend_default.h"
#include "link/serial_link.h"
#include "link/serial_port_posix.h"
#include "link/udp_link.h"
#include "link/udp_transport_posix.h"
#include "link/usb_hid_link.h"
#include "session/single_hid_backend.h"

namespace zendrik::session {
namespace {

struct TransportMaker {
    Clock& clock;

    std::unique_ptr<LinkTransport> operator()(const UsbAddress& usb) const {
        std::unique_ptr<HidBackend> hid =
            usb.path.empty() ? MakeDefaultHidBackend() : MakeSingleDeviceHidBackend(usb.path);
        return std::make_unique<UsbHidLink>(clock, std::move(hid), ReplyWait::kUntilArrived);
    }

    std::unique_ptr<LinkTransport> operator()(const SerialAddress& serial) const {
        return std::make_unique<SerialLink>(clock, MakePosixSerialOpener(clock),
                                            SerialDevice{serial.device, serial.comIndex, serial.baud});
    }

    std::unique_ptr<LinkTransport> operator()(const UdpAddress& udp) const {
        return std::make_unique<UdpLink>(clock, MakePosixUdpTransport(), UdpEndpoints{udp.local, udp.reader});
    }
};

}  // namespace

std::unique_ptr<Link> MakeReaderLink(const ReaderAddress& address, Clock& clock) {
    auto link = std::make_unique<Link>(clock, std::visit(TransportMaker{clock}, address));
    link->set_reply_rules(ReplyRules::Strict());
    return link;
}

}  // namespace zendrik::session
