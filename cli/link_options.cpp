#include "cli/link_options.h"

#include <arpa/inet.h>
#include <zendrik_session.h>

#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <cstdlib>

namespace zendrik::cli {
namespace {

constexpr int32_t kMaxPort = 65535;
constexpr std::string_view kSerialKind = "serial:";
constexpr char kNameSeparator = '=';
constexpr char kKindSeparator = ':';
constexpr std::string_view kDefaultLocal = "0.0.0.0:0";
// The library's reasons are one short sentence.
constexpr std::size_t kReasonCapacity = 256;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

// The reader's speeds as the address grammar takes them.
constexpr std::array kBaudRates{1200, 9600, 14400, 19200, 28800, 38400, 57600, 115200};

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

// Reader ids go into every output line: printable, and short enough for the library's record.
std::string CheckReaderName(std::string_view name) {
    if (name.empty()) {
        return "the reader name before '=' is empty";
    }
    if (name.size() >= ZENDRIK_READER_ID_CAPACITY) {
        return "the reader name is longer than " + std::to_string(ZENDRIK_READER_ID_CAPACITY - 1) + " bytes";
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kFirstPrintable || byte == kDelete) {
            return "the reader name holds a control character";
        }
    }
    return {};
}

// Empty when the library takes the address, otherwise its reason.
std::string AddressRefusal(const std::string& address) {
    std::array<char, kReasonCapacity> why{};
    if (zendrik_address_check(address.c_str(), why.data(), why.size()) != ZENDRIK_OK) {
        return "bad reader address \"" + address + "\": " + why.data();
    }
    return {};
}

// --serial DEVICE is serial:DEVICE, COMn names and all, so both take the library's grammar.
std::string CheckSerialOption(const std::string& device) {
    return AddressRefusal(std::string(kSerialKind) + device);
}

ReaderChoice ShorthandReader(const LinkOptions& options) {
    switch (options.kind) {
        case LinkKind::kSerial:
            return {std::string(kSerialKind) + options.serialDevice + "?baud=" + std::to_string(options.baud),
                    "", "serial " + options.serialDevice + " " + std::to_string(options.baud)};
        case LinkKind::kUdp: {
            const std::string local = options.local == kDefaultLocal ? "" : "?local=" + options.local;
            return {"udp:" + options.reader + local, "", "udp " + options.reader};
        }
        case LinkKind::kUsb:
            break;
    }
    return {"usb", "", "usb"};
}

}  // namespace

void AddLinkOptions(CLI::App& app, LinkOptions& options) {
    const std::string group = "Readers (USB unless --reader, --serial or --udp is given)";
    CLI::Option* reader =
        app.add_option("--reader", options.readers,
                       "a reader by its address: usb, usb:PATH (a hidraw node or virtual HID socket), "
                       "serial:DEVICE[?baud=N] (a path or COM1..COM20), udp:HOST:PORT[?local=HOST:PORT]; "
                       "NAME= before it (no ':' in NAME) names the reader in the output instead of its "
                       "serial number. Repeatable for read")
            ->type_name("[NAME=]ADDRESS")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->check(CheckReaderOption)
            ->group(group);
    CLI::Option* usb = app.add_flag_callback(
                              "--usb", [&options] { options.kind = LinkKind::kUsb; },
                              "the first USB reader found (the default): --reader usb")
                           ->group(group);
    CLI::Option* serial =
        app.add_option("--serial", options.serialDevice,
                       "a serial device (/dev/ttyUSB0, /dev/serial/by-id/...) or COM1..COM20 as the "
                       "library maps them (ZENDRIK_COMn overrides COMn's device): --reader serial:DEVICE")
            ->type_name("DEVICE|COMn")
            ->check(CheckSerialOption)
            ->group(group);
    app.add_option("--baud", options.baud, "serial line speed in bit/s (default 115200)")
        ->check(CLI::IsMember(std::vector<int>(kBaudRates.begin(), kBaudRates.end())))
        ->needs(serial)
        ->group(group);
    CLI::Option* udp =
        app.add_option("--udp", options.reader, "the reader's network module: --reader udp:READER_IP:PORT")
            ->type_name("READER_IP:PORT")
            ->check(CheckReaderHostPort)
            ->group(group);
    app.add_option("--local", options.local, "the local address and port to send from (default 0.0.0.0:0)")
        ->type_name("HOST_IP:PORT")
        ->check(CheckHostPort)
        ->needs(udp)
        ->group(group);
    usb->excludes(serial)->excludes(udp)->excludes(reader);
    serial->excludes(udp)->excludes(reader);
    udp->excludes(reader);
    serial->each([&options](const std::string&) { options.kind = LinkKind::kSerial; });
    udp->each([&options](const std::string&) { options.kind = LinkKind::kUdp; });
    app.add_flag("--trace", options.trace,
                 "print every frame sent and received as hex on standard error (sets ZENDRIK_TRACE)");
}

std::vector<ReaderChoice> ChosenReaders(const LinkOptions& options) {
    if (options.readers.empty()) {
        return {ShorthandReader(options)};
    }
    std::vector<ReaderChoice> chosen;
    for (const std::string& text : options.readers) {
        chosen.push_back(ParseReaderOption(text));
    }
    return chosen;
}

ReaderChoice ParseReaderOption(std::string_view text) {
    const std::size_t separator = text.find(kNameSeparator);
    if (separator == std::string_view::npos ||
        text.substr(0, separator).find(kKindSeparator) != std::string_view::npos) {
        return {std::string(text), "", std::string(text)};
    }
    const std::string_view address = text.substr(separator + 1);
    return {std::string(address), std::string(text.substr(0, separator)), std::string(address)};
}

std::string CheckReaderOption(const std::string& text) {
    const ReaderChoice choice = ParseReaderOption(text);
    if (choice.address.size() != text.size()) {
        if (std::string wrong = CheckReaderName(choice.name); !wrong.empty()) {
            return wrong + ": " + text;
        }
    }
    return AddressRefusal(choice.address);
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

void EnableFrameTrace() {
    ::setenv("ZENDRIK_TRACE", "1", 1);
}

}  // namespace zendrik::cli
