#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace zendrik::cli {

enum class LinkKind { kUsb, kSerial, kUdp };

// How to reach the reader; the same options for every subcommand.
struct LinkOptions {
    LinkKind kind = LinkKind::kUsb;
    std::string serialDevice;         // a device path, or COMn for the library's own port mapping
    int32_t baud = 115200;            // the tool's default line speed
    std::string reader;               // READER_IP:PORT
    std::string local = "0.0.0.0:0";  // any local address, a port chosen by the system
    bool trace = false;
};

struct HostPort {
    std::string ip;
    int32_t port = 0;
};

// Registers --usb, --serial, --baud, --udp, --local and --trace on `app`.
void AddLinkOptions(CLI::App& app, LinkOptions& options);

// "192.168.1.250:27001": a dotted IPv4 address and a port of 0 to 65535.
std::optional<HostPort> ParseHostPort(std::string_view text);

// The port index of "COM1".."COM20" (any letter case): 0..19; nothing for any other text.
std::optional<int32_t> ComPortIndex(std::string_view device);

// Opens the link the options name: OpenCom for USB and COMn, OpenComDevice for a device path,
// Net_Connect for UDP. The library's result code.
int32_t OpenLink(const LinkOptions& options);

// Switches the library's frame trace on for this process (ZENDRIK_TRACE).
void EnableFrameTrace();

}  // namespace zendrik::cli
