// zendrik: the reader from the command line, on the library's exported functions.
#include <CLI/CLI.hpp>
#include <exception>
#include <vector>

#include "cli/link_options.h"
#include "cli/subcommands.h"

namespace {

constexpr const char* kDescription =
    "zendrik talks to fixed UHF RFID readers over USB HID, a serial line or UDP: it shows a reader's "
    "identity and settings, writes settings, restores factory defaults, reads tags from one reader or "
    "several at once, continuously through unplug and replug, finds network modules, and follows a site's "
    "events from its MQTT broker, proving that none was missed.";

constexpr const char* kFooter =
    "Environment:\n"
    "  ZENDRIK_TRACE        when set (not empty, not 0), every frame sent and received goes to standard "
    "error "
    "as one time-stamped hex line; --trace sets it\n"
    "  ZENDRIK_COMn         the device COMn opens (n = 1..20)\n"
    "  ZENDRIK_HID_SOCKET   virtual USB readers (Unix socket paths separated by ':'), e.g. of zendrik-sim\n"
    "  ZENDRIK_SETTLE_MS    the wait after a handshake before the first settings read, in ms (0..1100) "
    "instead of the reader's own; for virtual readers only\n"
    "\n"
    "Exit status: 0 on success; 1 when the reader or the link failed, reported in words with the library's "
    "result code, e.g. \"no reader answered (-130)\"; 2 when the command line, a reader address or a value "
    "was refused before anything was sent.\n"
    "\n"
    "Examples:\n"
    "  zendrik info\n"
    "  zendrik --serial /dev/ttyUSB0 --baud 115200 config --json\n"
    "  zendrik --reader serial:/dev/ttyUSB0?baud=115200 config --json\n"
    "  zendrik --udp 192.168.1.250:27001 set power=20 buzzer=off\n"
    "  zendrik read --count 3 --format csv\n"
    "  zendrik read --watch --epc 0:12\n"
    "  zendrik --reader gate-1=usb:/dev/hidraw3 --reader dock-4=udp:192.168.1.250:27001 read --watch "
    "--events --format json";

int Run(int argc, char** argv) {
    using namespace zendrik::cli;
    CLI::App program(kDescription, "zendrik");
    program.set_version_flag("--version", "zendrik " ZENDRIK_VERSION);
    program.require_subcommand(1);
    program.fallthrough();
    program.footer(kFooter);
    LinkOptions link;
    AddLinkOptions(program, link);
    const std::vector<Subcommand> subcommands{
        AddInfoCommand(program, link),    AddConfigCommand(program, link), AddSetCommand(program, link),
        AddDefaultCommand(program, link), AddReadCommand(program, link),   AddDiscoverCommand(program),
        AddListenCommand(program),
    };
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = program.exit(error);
        return status == kExitOk ? kExitOk : kExitUsage;
    }
    if (link.trace) {
        EnableFrameTrace();
    }
    for (const Subcommand& subcommand : subcommands) {
        if (subcommand.app->parsed()) {
            return subcommand.run();
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        return zendrik::cli::Report(error.what());
    }
}
