#include "tests/session/virtual_readers.h"

#include <cstdio>

#include "sim/endpoint.h"

namespace zendrik::testing {
namespace {

sim::Responder AnswerWith(sim::Reader& reader) {
    return [&reader](std::span<const uint8_t> request) { return reader.Answer(request); };
}

}  // namespace

VirtualReader::VirtualReader(Transport transport, uint8_t kind, uint8_t serialLastByte)
    : transport_(transport), reader_(kind), hidPath_(directory_.path() + "/reader.sock") {
    sim::ReaderIdentity identity = reader_.identity();
    identity.serialNumber.back() = serialLastByte;
    reader_.SetIdentity(identity);
    Plug();
    switch (transport) {
        case Transport::kUsb:
            address_ = "usb:" + hidPath_;
            break;
        case Transport::kSerial:
            address_ = "serial:" + pty_->path();
            break;
        case Transport::kUdp:
            address_ = "udp:127.0.0.1:" + std::to_string(udp_->port()) + "?local=127.0.0.1:0";
            break;
    }
}

VirtualReader::~VirtualReader() = default;

void VirtualReader::Unplug() {
    hid_.reset();
    pty_.reset();
    udp_.reset();
}

void VirtualReader::Plug() {
    switch (transport_) {
        case Transport::kUsb:
            hid_ = std::make_unique<sim::HidSocketServer>(AnswerWith(reader_), hidPath_);
            break;
        case Transport::kSerial:
            pty_ = std::make_unique<sim::PtyServer>(AnswerWith(reader_));
            break;
        case Transport::kUdp:
            udp_ = std::make_unique<sim::UdpServer>(AnswerWith(reader_),
                                                    sim::Ipv4Endpoint{sim::kLoopbackHost, 0});
            break;
    }
}

std::string VirtualReader::id() const {
    std::string hex;
    for (const uint8_t byte : reader_.identity().serialNumber) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex.substr(0, 24);
}

}  // namespace zendrik::testing
