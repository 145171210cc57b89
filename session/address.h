#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "link/udp_transport.h"

// Reader addresses, the one text form in which every program of the project names a reader:
//   usb                              the first USB reader found
//   usb:PATH                         that hidraw node, or that virtual HID socket
//   serial:DEVICE[?baud=N]           DEVICE a path or COM1..COM20 (any letter case); N one of the
//                                    reader's speeds
//   udp:HOST:PORT[?local=HOST:PORT]  dotted IPv4; the local end defaults to any address, any port
namespace zendrik::session {

inline constexpr int32_t kDefaultSerialBaud = 115200;
// Longest address text taken; anything longer is refused before it is looked at.
inline constexpr std::size_t kMaxAddressLength = 4096;

struct UsbAddress {
    std::string path;  // empty: the first reader found

    bool operator==(const UsbAddress&) const = default;
};

struct SerialAddress {
    std::string device;               // the device path, when not given as COMn
    std::optional<int32_t> comIndex;  // COM1..COM20 as 0..19, mapped to a device when opened
    int32_t baud = kDefaultSerialBaud;

    bool operator==(const SerialAddress&) const = default;
};

struct UdpAddress {
    UdpEndpoint reader;
    UdpEndpoint local{"0.0.0.0", 0};

    bool operator==(const UdpAddress& other) const {
        return reader.ip == other.reader.ip && reader.port == other.reader.port &&
               local.ip == other.local.ip && local.port == other.local.port;
    }
};

using ReaderAddress = std::variant<UsbAddress, SerialAddress, UdpAddress>;

// An address taken apart, or the reason it does not parse.
struct ParsedAddress {
    std::optional<ReaderAddress> address;
    std::string why;  // empty when `address` is set
};

ParsedAddress ParseReaderAddress(std::string_view text);

// The device node or socket an address opens: the path of usb:PATH and of serial:DEVICE, COMn's
// device (ZENDRIK_COMn honoured); empty for the first USB reader found and for UDP.
std::string DeviceOf(const ReaderAddress& address);

}  // namespace zendrik::session
