#pragma once

#include <functional>
#include <string>

#include "cli/link_options.h"

namespace CLI {
class App;
}

namespace zendrik::cli {

// Exit statuses: success, a failure of the reader or the link (reported in words with the
// library's result code), and a command line or value that was refused before anything was sent.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Prints "zendrik: <message>" on standard error and gives `status`.
int Report(const std::string& message, int status = kExitFailure);

// A subcommand registered on the program's command line, and what runs when it was given. The
// reader options live in the program and are read only when the subcommand runs.
struct Subcommand {
    CLI::App* app;
    std::function<int()> run;
};

Subcommand AddInfoCommand(CLI::App& program, const LinkOptions& link);
Subcommand AddConfigCommand(CLI::App& program, const LinkOptions& link);
Subcommand AddSetCommand(CLI::App& program, const LinkOptions& link);
Subcommand AddDefaultCommand(CLI::App& program, const LinkOptions& link);
Subcommand AddReadCommand(CLI::App& program, const LinkOptions& link);
Subcommand AddDiscoverCommand(CLI::App& program);
Subcommand AddListenCommand(CLI::App& program);

// The note every subcommand's help ends with: where the reader options are described.
inline constexpr const char* kLinkOptionsNote =
    "Reader options (--reader, --usb, --serial, --baud, --udp, --local, --trace) go before or after the "
    "subcommand; see zendrik --help. info, config, set and default work on one reader.";

}  // namespace zendrik::cli
