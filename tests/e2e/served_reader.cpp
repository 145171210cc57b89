#include "tests/e2e/served_reader.h"

#include <cstdlib>

#include "zendrik/zendrik.h"
#include "sim/endpoint.h"

namespace zendrik::e2e {
namespace {

sim::Responder AnswerWith(sim::Reader& reader) {
    return [&reader](std::span<const uint8_t> request) { return reader.Answer(request); };
}

}  // namespace

const char* LinkName(LinkKind link) {
    switch (link) {
        case LinkKind::kSerial:
            return "Serial";
        case LinkKind::kUsb:
            return "Usb";
        case LinkKind::kUdp:
            return "Udp";
    }
    return "Unknown";
}

ServedReader::ServedReader(LinkKind link, uint8_t kind) : link_(link), reader_(kind) {
    switch (link) {
        case LinkKind::kSerial:
            pty_ = std::make_unique<sim::PtyServer>(AnswerWith(reader_));
            break;
        case LinkKind::kUsb:
            hid_ = std::make_unique<sim::HidSocketServer>(AnswerWith(reader_),
                                                          directory_.path() + "/reader.sock");
            break;
        case LinkKind::kUdp:
            udp_ = std::make_unique<sim::UdpServer>(AnswerWith(reader_), sim::Ipv4Endpoint{kLoopback, 0});
            break;
    }
}

ServedReader::~ServedReader() {
    if (link_ == LinkKind::kSerial) {
        CloseCom();  // give the terminal back before its server goes
    }
}

int32_t ServedReader::Connect() {
    switch (link_) {
        case LinkKind::kSerial:
            ::setenv(kPtyPortVariable, pty_->path().c_str(), 1);
            CloseCom();  // a port left open by an earlier reader is not ours to keep
            return OpenCom(kPtyPortIndex, kSerialBaud);
        case LinkKind::kUsb:
            ::setenv(kHidSocketVariable, hid_->path().c_str(), 1);
            return OpenCom(ZENDRIK_USB_PORT, kSerialBaud);
        case LinkKind::kUdp:
            return Net_Connect(kLoopback, kEphemeralPort, kLoopback, udp_->port());
    }
    return ZENDRIK_ERR_NOT_REACHED;
}

void ServedReader::Unplug() {
    pty_.reset();
    hid_.reset();
    udp_.reset();
}

std::string ServedReader::Where() const {
    if (pty_) {
        return pty_->path();
    }
    if (hid_) {
        return hid_->path();
    }
    return udp_ ? std::string(kLoopback) + ":" + std::to_string(udp_->port()) : std::string();
}

uint16_t ServedReader::udp_port() const {
    return udp_ ? udp_->port() : 0;
}

}  // namespace zendrik::e2e
