// zendrik default: the tool's Factory Default sequence for the reader's kind.
#include <zendrik.h>

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

// Runs one step of the sequence; the library's result code.
int32_t RunStep(const rules::FactoryStep& step, uint8_t kind, rules::ReaderSettings& values) {
    switch (step.action) {
        case rules::FactoryAction::kReset:
            return UhfFactoryDefault(kReaderAddress);
        case rules::FactoryAction::kWriteKeepingBand: {
            // The band stays the one the reader is on, so the plan must be read first.
            rules::ReaderSettings current;
            if (const int32_t read = ReadSetting(rules::SettingCommand::kFrequency, current);
                read != ZENDRIK_OK) {
                return read;
            }
            values.frequency = rules::WholeBandPlan(current.frequency.first);
            break;
        }
        case rules::FactoryAction::kWrite:
            break;
    }
    return WriteSetting(step.command, kind, values);
}

// Every step is tried, as the tool does, but unlike the tool each failure is reported.
int RunDefault(const LinkOptions& link) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    rules::FactoryDefaults defaults = rules::FactoryDefaultsFor(session.kind());
    int status = kExitOk;
    for (const rules::FactoryStep& step : defaults.steps) {
        if (const int32_t result = RunStep(step, session.kind(), defaults.values); result != ZENDRIK_OK) {
            status = Report("restoring the " + std::string(rules::FactoryStepName(step)) +
                            " failed: " + ResultWords(result));
        }
    }
    if (status == kExitOk) {
        std::printf("factory defaults restored (reader kind %u); the reader's address is now %u\n",
                    unsigned{session.kind()}, unsigned{rules::kFactoryAddress});
    }
    return status;
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
