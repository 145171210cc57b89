#include "session/address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "link/com_port_map.h"

namespace zendrik::session {
namespace {

constexpr std::string_view kUsbKind = "usb";
constexpr std::string_view kSerialKind = "serial";
constexpr std::string_view kUdpKind = "udp";
constexpr char kKindSeparator = ':';
constexpr char kPortSeparator = ':';
constexpr char kQuerySeparator = '?';
constexpr char kValueSeparator = '=';
constexpr std::string_view kBaudKey = "baud";
constexpr std::string_view kLocalKey = "local";
constexpr std::string_view kComPrefix = "COM";
constexpr int32_t kFirstCom = 1;
constexpr int32_t kLastCom = kComPortCount;
constexpr int64_t kLowestPort = 0;
constexpr int64_t kHighestPort = 65535;

struct Failure {
    std::string why;
};

// Appended rather than `"\"" + std::string(text)`, whose insert at the front draws a false
// -Wrestrict from GCC 12 at -O3.
std::string Quoted(std::string_view text) {
    return std::string("\"").append(text).append("\"");
}

// A decimal number of digits only (no sign, no blanks) within [min, max].
std::optional<int64_t> ParseDecimal(std::string_view text, int64_t min, int64_t max) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

bool IsDottedIpv4(std::string_view text) {
    in_addr address{};
    return ::inet_pton(AF_INET, std::string(text).c_str(), &address) == 1;
}

// "HOST:PORT", HOST dotted IPv4, PORT within [lowestPort, 65535].
std::variant<UdpEndpoint, Failure> ParseEndpoint(std::string_view text, std::string_view what,
                                                 int64_t lowestPort) {
    const std::size_t colon = text.rfind(kPortSeparator);
    if (colon == std::string_view::npos) {
        return Failure{std::string(what) + " " + Quoted(text) + " is not HOST:PORT"};
    }
    const std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (!IsDottedIpv4(host)) {
        return Failure{std::string(what) + " host " + Quoted(host) + " is not a dotted IPv4 address"};
    }
    const std::optional<int64_t> number = ParseDecimal(port, lowestPort, kHighestPort);
    if (!number) {
        return Failure{std::string(what) + " port " + Quoted(port) + " is not a number from " +
                       std::to_string(lowestPort) + " to " + std::to_string(kHighestPort)};
    }
    return UdpEndpoint{std::string(host), static_cast<uint16_t>(*number)};
}

// Splits "BODY?KEY=VALUE" into the body and the one query item (none when there is no '?').
struct Query {
    std::string_view body;
    std::optional<std::string_view> key;
    std::string_view value;
};

std::variant<Query, Failure> SplitQuery(std::string_view text, std::string_view expectedKey) {
    const std::size_t mark = text.find(kQuerySeparator);
    if (mark == std::string_view::npos) {
        return Query{text, std::nullopt, {}};
    }
    const std::string_view item = text.substr(mark + 1);
    const std::size_t equals = item.find(kValueSeparator);
    const std::string_view key = item.substr(0, equals);
    if (equals == std::string_view::npos || key != expectedKey) {
        return Failure{"expected ?" + std::string(expectedKey) + "=..., got ?" + std::string(item)};
    }
    return Query{text.substr(0, mark), key, item.substr(equals + 1)};
}

std::variant<ReaderAddress, Failure> ParseUsb(std::optional<std::string_view> rest) {
    if (!rest) {
        return UsbAddress{};
    }
    if (rest->empty()) {
        return Failure{"usb: needs the path of a hidraw node or virtual HID socket (or plain usb)"};
    }
    return UsbAddress{std::string(*rest)};
}

// Port names are the serial ports' names on the systems they come from, where letter case does
// not count: "com3" is COM3.
bool StartsWithComPrefix(std::string_view device) {
    return device.size() >= kComPrefix.size() &&
           std::equal(kComPrefix.begin(), kComPrefix.end(), device.begin(), [](char prefix, char given) {
               return prefix == std::toupper(static_cast<unsigned char>(given));
           });
}

// COMn with n in 1..20; nothing when DEVICE does not have the COMn form; a failure for COM0, COM21.
std::variant<std::optional<int32_t>, Failure> ParseComName(std::string_view device) {
    if (!StartsWithComPrefix(device)) {
        return std::optional<int32_t>{};
    }
    const std::string_view digits = device.substr(kComPrefix.size());
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::optional<int32_t>{};  // a device that merely starts with COM
    }
    const std::optional<int64_t> number = ParseDecimal(digits, kFirstCom, kLastCom);
    if (!number) {
        return Failure{Quoted(device) + " is not one of COM1..COM20"};
    }
    return std::optional<int32_t>{static_cast<int32_t>(*number - kFirstCom)};
}

std::variant<ReaderAddress, Failure> ParseSerial(std::optional<std::string_view> rest) {
    if (!rest || rest->empty()) {
        return Failure{"serial: needs a device path or COM1..COM20"};
    }
    const auto split = SplitQuery(*rest, kBaudKey);
    if (const auto* failure = std::get_if<Failure>(&split)) {
        return *failure;
    }
    const Query& query = std::get<Query>(split);
    if (query.body.empty()) {
        return Failure{"serial: needs a device path or COM1..COM20 before the ?"};
    }
    SerialAddress address;
    if (query.key) {
        const std::optional<int64_t> baud = ParseDecimal(query.value, 1, INT32_MAX);
        if (!baud || EffectiveBaud(static_cast<int32_t>(*baud)) != *baud) {
            return Failure{"baud " + Quoted(query.value) +
                           " is not one of 1200, 9600, 14400, 19200, 28800, 38400, 57600, 115200"};
        }
        address.baud = static_cast<int32_t>(*baud);
    }
    const auto com = ParseComName(query.body);
    if (const auto* failure = std::get_if<Failure>(&com)) {
        return *failure;
    }
    address.comIndex = std::get<std::optional<int32_t>>(com);
    if (!address.comIndex) {
        address.device = std::string(query.body);
    }
    return address;
}

std::variant<ReaderAddress, Failure> ParseUdp(std::optional<std::string_view> rest) {
    if (!rest || rest->empty()) {
        return Failure{"udp: needs the reader's HOST:PORT"};
    }
    const auto split = SplitQuery(*rest, kLocalKey);
    if (const auto* failure = std::get_if<Failure>(&split)) {
        return *failure;
    }
    const Query& query = std::get<Query>(split);
    UdpAddress address;
    // Port 0 is no place to send to; as the local port it lets the system pick one.
    const auto reader = ParseEndpoint(query.body, "reader", kLowestPort + 1);
    if (const auto* failure = std::get_if<Failure>(&reader)) {
        return *failure;
    }
    address.reader = std::get<UdpEndpoint>(reader);
    if (query.key) {
        const auto local = ParseEndpoint(query.value, "local", kLowestPort);
        if (const auto* failure = std::get_if<Failure>(&local)) {
            return *failure;
        }
        address.local = std::get<UdpEndpoint>(local);
    }
    return address;
}

// The device each kind of address opens.
struct DeviceOfAddress {
    std::string operator()(const UsbAddress& usb) const { return usb.path; }
    std::string operator()(const SerialAddress& serial) const {
        return serial.comIndex ? ComDevicePath(*serial.comIndex) : serial.device;
    }
    std::string operator()(const UdpAddress&) const { return {}; }
};

}  // namespace

std::string DeviceOf(const ReaderAddress& address) {
    return std::visit(DeviceOfAddress{}, address);
}

ParsedAddress ParseReaderAddress(std::string_view text) {
    if (text.empty()) {
        return {std::nullopt, "the address is empty: expected usb, usb:PATH, serial:DEVICE or udp:HOST:PORT"};
    }
    if (text.size() > kMaxAddressLength) {
        return {std::nullopt,
                "the address is longer than " + std::to_string(kMaxAddressLength) + " characters"};
    }
    const std::size_t separator = text.find(kKindSeparator);
    const std::string_view kind = text.substr(0, separator);
    const std::optional<std::string_view> rest =
        separator == std::string_view::npos ? std::nullopt : std::optional(text.substr(separator + 1));
    std::variant<ReaderAddress, Failure> parsed = Failure{};
    if (kind == kUsbKind) {
        parsed = ParseUsb(rest);
    } else if (kind == kSerialKind) {
        parsed = ParseSerial(rest);
    } else if (kind == kUdpKind) {
        parsed = ParseUdp(rest);
    } else {
        return {std::nullopt, "unknown reader kind " + Quoted(kind) + ": expected usb, serial or udp"};
    }
    if (auto* failure = std::get_if<Failure>(&parsed)) {
        return {std::nullopt, std::move(failure->why)};
    }
    return {std::get<ReaderAddress>(std::move(parsed)), {}};
}

}  // namespace zendrik::session
