#include "cli/link_options.h"

#include <arpa/inet.h>
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace zendrik::cli {
namespace {

constexpr int32_t kMaxPort = 65535;
constexpr int32_t kComPortCount = 20;
constexpr std::string_view kComPrefix = "COM";
constexpr int32_t kHighestBaud = 4000000;

std::optional<int32_t> ParseNumber(std::string_view text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::string CheckHostPort(const std::string& text) {
    return ParseHostPort(text) ? std::string{} : "expected IPv4-ADDRESS:PORT, got " + text;
}

// The reader listens on a port of its own; port 0 cannot be sent to.
std::string CheckReaderHostPort(const std::string& text) {
    const std::optional<HostPort> parsed = ParseHostPort(text);
    return parsed && parsed->port != 0 ? std::string{}
                                       : "expected IPv4-ADDRESS:PORT (port 1-65535), got " + text;
}

}  // namespace

void AddLinkOptions(CLI::App& app, LinkOptions& options) {
    const std::string group = "Link (USB unless --serial or --udp is given)";
    CLI::Option* usb = app.add_flag_callback(
                              "--usb", [&options] { options.kind = LinkKind::kUsb; },
                              "the reader's USB HID interface (default)")
                           ->group(group);
    CLI::Option* serial =
        app.add_option("--serial", options.serialDevice,
                       "a serial device (/dev/ttyUSB0, /dev/serial/by-id/...) or COM1..COM20 as the "
                       "library maps them (ZENDRIK_COMn overrides COMn's device)")
            ->type_name("DEVICE|COMn")
            ->group(group);
    app.add_option("--baud", options.baud, "serial line speed in bit/s (default 115200)")
        ->check(CLI::Range(1, kHighestBaud))
        ->needs(serial)
        ->group(group);
    CLI::Option* udp = app.add_option("--udp", options.reader, "the reader's network module")
                           ->type_name("READER_IP:PORT")
                           ->check(CheckReaderHostPort)
                           ->group(group);
    app.add_option("--local", options.local, "the local address and port to send from (default 0.0.0.0:0)")
        ->type_name("HOST_IP:PORT")
        ->check(CheckHostPort)
        ->needs(udp)
        ->group(group);
    usb->excludes(serial)->excludes(udp);
    serial->excludes(udp);
    serial->each([&options](const std::string&) { options.kind = LinkKind::kSerial; });
    udp->each([&options](const std::string&) { options.kind = LinkKind::kUdp; });
    app.add_flag("--trace", options.trace,
                 "print every frame sent and received as hex on standard error (sets ZENDRIK_TRACE)");
}

std::optional<HostPort> ParseHostPort(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string ip(text.substr(0, colon));
    in_addr parsed{};
    if (::inet_pton(AF_INET, ip.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    const std::optional<int32_t> port = ParseNumber(text.substr(colon + 1));
    if (!port || *port < 0 || *port > kMaxPort) {
        return std::nullopt;
    }
    return HostPort{ip, *port};
}

std::optional<int32_t> ComPortIndex(std::string_view device) {
    if (device.size() <= kComPrefix.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kComPrefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(device[i])) != kComPrefix[i]) {
            return std::nullopt;
        }
    }
    const std::optional<int32_t> number = ParseNumber(device.substr(kComPrefix.size()));
    if (!number || *number < 1 || *number > kComPortCount) {
        return std::nullopt;
    }
    return *number - 1;
}

int32_t OpenLink(const LinkOptions& options) {
    switch (options.kind) {
        case LinkKind::kUsb:
            return OpenCom(ZENDRIK_USB_PORT, options.baud);
        case LinkKind::kSerial:
            if (const std::optional<int32_t> index = ComPortIndex(options.serialDevice)) {
                return OpenCom(*index, options.baud);
            }
            return OpenComDevice(options.serialDevice.c_str(), options.baud);
        case LinkKind::kUdp:
            break;
    }
    // Both texts were checked when the options were parsed.
    const HostPort local = ParseHostPort(options.local).value_or(HostPort{});
    const HostPort reader = ParseHostPort(options.reader).value_or(HostPort{});
    return Net_Connect(local.ip.c_str(), local.port, reader.ip.c_str(), reader.port);
}

void EnableFrameTrace() {
    ::setenv("ZENDRIK_TRACE", "1", 1);
}

}  // namespace zendrik::cli
