#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace zendrik::cli {

enum class LinkKind { kUsb, kSerial, kUdp };

// How to reach the readers; the same options for every subcommand. Either --reader (repeatable)
// or one of the shorthands --usb, --serial and --udp, which name one reader's address.
struct LinkOptions {
    std::vector<std::string> readers;  // --reader [NAME=]ADDRESS, as given
    LinkKind kind = LinkKind::kUsb;
    std::string serialDevice;         // a device path, or COMn for the library's own port mapping
    int32_t baud = 115200;            // the tool's default line speed
    std::string reader;               // READER_IP:PORT
    std::string local = "0.0.0.0:0";  // any local address, a port chosen by the system
    bool trace = false;
};

// One reader to open: its address in the library's grammar, the name it goes by (empty: its
// serial number), and how `info` describes the link.
struct ReaderChoice {
    std::string address;
    std::string name;
    std::string link;
};

struct HostPort {
    std::string ip;
    int32_t port = 0;
};

// Registers --reader, --usb, --serial, --baud, --udp, --local and --trace on `app`.
void AddLinkOptions(CLI::App& app, LinkOptions& options);

// The readers the options name: every --reader in order, or else the one of the shorthand (USB
// when none is given).
std::vector<ReaderChoice> ChosenReaders(const LinkOptions& options);

// "[NAME=]ADDRESS": the text before the first '=' is a name when it holds no ':' (addresses
// always do where they carry an '='), so "gate=usb" names the reader "gate".
ReaderChoice ParseReaderOption(std::string_view text);

// Empty when --reader's text names a reader the library takes, otherwise why not.
std::string CheckReaderOption(const std::string& text);

// "192.168.1.250:27001": a dotted IPv4 address and a port of 0 to 65535.
std::optional<HostPort> ParseHostPort(std::string_view text);

// Switches the library's frame trace on for this process (ZENDRIK_TRACE).
void EnableFrameTrace();

}  // namespace zendrik::cli
