#include "link/switching_link.h"

#include <utility>

#include "link/com_port_map.h"
#include "link/result_codes.h"
#include "link/serial_link.h"

namespace zendrik {

// One transport of each medium, and which of them carries the exchanges.
class MediumSwitch final : public LinkTransport {
  public:
    MediumSwitch(Clock& clock, std::unique_ptr<HidBackend> hid,
                 std::unique_ptr<SerialPortOpener> serialOpener, std::unique_ptr<UdpTransport> udp)
        : serial_(clock, std::move(serialOpener)), usb_(clock, std::move(hid)), udp_(clock, std::move(udp)) {}

    LinkType type() const override { return current_; }
    void Select(LinkType type) { current_ = type; }
    int32_t Reopen() override { return Current().Reopen(); }
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) override {
        return Current().Exchange(variant, request, reply, rules, late);
    }

    SerialLink& serial() { return serial_; }
    UsbHidLink& usb() { return usb_; }
    UdpLink& udp() { return udp_; }

  private:
    LinkTransport& Current() {
        switch (current_) {
            case LinkType::kUsb:
                return usb_;
            case LinkType::kUdp:
                return udp_;
            case LinkType::kSerial:
                break;
        }
        return serial_;
    }

    SerialLink serial_;
    UsbHidLink usb_;
    UdpLink udp_;
    LinkType current_ = LinkType::kUsb;
};

SwitchingLink::SwitchingLink(Clock& clock, std::unique_ptr<HidBackend> hid,
                             std::unique_ptr<SerialPortOpener> serialOpener,
                             std::unique_ptr<UdpTransport> udp)
    : SwitchingLink(clock, std::make_unique<MediumSwitch>(clock, std::move(hid), std::move(serialOpener),
                                                          std::move(udp))) {}

SwitchingLink::SwitchingLink(Clock& clock, std::unique_ptr<MediumSwitch> media)
    : Link(clock, std::move(media)), media_(static_cast<MediumSwitch&>(transport())) {}

int32_t SwitchingLink::OpenCom(int32_t port, int32_t baud) {
    media_.Select(LinkType::kSerial);
    // Only the low 16 bits of the port count, taken as a signed value.
    const int32_t index = static_cast<int16_t>(port & 0xFFFF);
    if (index == kUsbPort) {
        if (!LocateUsb()) {
            return result::kNoUsbReader;
        }
        media_.Select(LinkType::kUsb);
        return result::kOk;
    }
    return OpenSerialDevice(ComDevicePath(index), baud);
}

int32_t SwitchingLink::OpenSerialDevice(const std::string& devicePath, int32_t baud) {
    media_.Select(LinkType::kSerial);
    return media_.serial().Open(devicePath, baud);
}

int32_t SwitchingLink::CloseCom() {
    return media_.serial().Close();
}

bool SwitchingLink::LocateUsb() {
    return media_.usb().Locate();
}

const std::optional<UsbHidLink::OpenFailure>& SwitchingLink::usb_open_failure() const {
    return media_.usb().open_failure();
}

void SwitchingLink::set_type(LinkType type) {
    media_.Select(type);
}

UdpEndpoints& SwitchingLink::udp_endpoints() {
    return media_.udp().endpoints();
}

UdpTransport& SwitchingLink::udp() {
    return media_.udp().datagrams();
}

UsbHidLink& SwitchingLink::usb() {
    return media_.usb();
}

}  // namespace zendrik
