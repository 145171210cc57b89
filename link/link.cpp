#include "link/link.h"

#include <string>
#include <utility>

#include "link/com_port_map.h"
#include "link/frame_trace.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

std::string_view LinkName(LinkType type) {
    switch (type) {
        case LinkType::kUsb:
            return "usb";
        case LinkType::kUdp:
            return "udp";
        case LinkType::kSerial:
            break;
    }
    return "serial";
}

}  // namespace

Link::Link(Clock& clock, std::unique_ptr<HidBackend> hid, std::unique_ptr<SerialPortOpener> serialOpener,
           std::unique_ptr<UdpTransport> udp)
    : clock_(clock), hid_(std::move(hid)), serialOpener_(std::move(serialOpener)), udp_(std::move(udp)) {}

Link::~Link() = default;

int32_t Link::Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                       std::span<uint8_t> reply) {
    // Only the low 8 bits of the request length count.
    request = request.first(request.size() & 0xFFu);
    // Every frame of every link passes here, so this is where ZENDRIK_TRACE shows them.
    const std::string_view linkName = LinkName(type_);
    TraceSent(linkName, request);
    sentAnswerTime_.reset();
    const int32_t result = [&] {
        switch (type_) {
            case LinkType::kUsb:
                return UsbExchange(variant, request, reply);
            case LinkType::kUdp:
                return UdpExchange(variant, request, reply);
            case LinkType::kSerial:
                break;
        }
        return SerialExchange(variant, request, reply);
    }();
    TraceReceived(linkName, result, reply);
    if (result != result::kOk) {
        SuspectLateReply();
    }
    return result;
}

void Link::SuspectLateReply() {
    if (replyRules_.lateReplies == LateReplies::kAwaitQuiet && sentAnswerTime_) {
        quietPeriod_ = sentAnswerTime_;
    }
}

void Link::set_reply_rules(const ReplyRules& rules) {
    replyRules_ = rules;
    if (rules.lateReplies != LateReplies::kAwaitQuiet) {
        quietPeriod_.reset();
    }
}

std::optional<Milliseconds> Link::TakeQuietPeriod() {
    return std::exchange(quietPeriod_, std::nullopt);
}

void Link::TraceQuietWait(int dropped) const {
    if (dropped > 0) {
        TraceEvent(LinkName(type_),
                   "dropped " + std::to_string(dropped) + " late arrival(s) before the request");
    }
}

int32_t Link::OpenCom(int32_t port, int32_t baud) {
    type_ = LinkType::kSerial;
    // Only the low 16 bits of the port count, taken as a signed value.
    const int32_t index = static_cast<int16_t>(port & 0xFFFF);
    if (index == kUsbPort) {
        if (!LocateUsb()) {
            return result::kNoUsbReader;
        }
        type_ = LinkType::kUsb;
        return result::kOk;
    }
    return OpenSerialDevice(ComDevicePath(index), baud);
}

int32_t Link::OpenSerialDevice(const std::string& devicePath, int32_t baud) {
    type_ = LinkType::kSerial;
    SerialOpenResult opened = serialOpener_->Open(devicePath, baud);
    if (opened.code != result::kOk) {
        return opened.code;
    }
    // Replacing the handle closes a port opened earlier, so it does not stay locked until exit.
    serial_ = std::move(opened.port);
    return result::kOk;
}

int32_t Link::CloseCom() {
    if (!serial_) {
        return result::kPortNotOpen;
    }
    serial_.reset();
    return result::kOk;
}

void Link::SettleOnce(Milliseconds duration) {
    if (settlePending_) {
        clock_.wait(duration);
        settlePending_ = false;
    }
}

}  // namespace zendrik
