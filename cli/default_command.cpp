// zendrik default: the tool's Factory Default sequence for the reader's kind.
#include <zendrik_session.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/factory_defaults.h"

namespace zendrik::cli {
namespace {

// The library tries every step, as the tool does; unlike the tool, a failure is reported.
int RunDefault(const LinkOptions& link) {
    std::optional<zendrik::Reader> reader;
    uint8_t kind = 0;
    if (const int status = OpenSingleReader(link, "default", reader, kind); status != kExitOk) {
        return status;
    }
    if (const int32_t result = zendrik_reader_factory_default(reader->get()); result != ZENDRIK_OK) {
        return Report("restoring the factory defaults failed: " + zendrik::result_words(result));
    }
    std::printf("factory defaults restored (reader kind %u); the reader's address is now %u\n",
                unsigned{kind}, unsigned{rules::kFactoryAddress});
    return kExitOk;
}

}  // namespace

Subcommand AddDefaultCommand(CLI::App& program, const LinkOptions& link) {
    CLI::App* app = program.add_subcommand(
        "default",
        "Restore the factory defaults the way the configuration tool does: the reader's own factory reset, "
        "then address 1, Wiegand output interval 2 (200 ms), trigger time 3 s, Wiegand 26 and work mode "
        "always; then by reader kind the whole frequency band it is on (kinds 0 and 1) or channels 1-63 "
        "(kind 2), and the highest output power (33, 26 or 63).");
    app->footer(kLinkOptionsNote);
    return {app, [&link] { return RunDefault(link); }};
}

}  // namespace zendrik::cli
