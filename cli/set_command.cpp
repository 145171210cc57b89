// zendrik set NAME=VALUE...: checks the values with the tool's ranges, writes them in the order of
// the tool's Save Changes, then reads every setting back and compares.
#include <zendrik_session.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/settings_output.h"
#include "cli/subcommands.h"
#include "rules/settings_json.h"

namespace zendrik::cli {
namespace {

struct SetOptions {
    std::vector<std::string> assignments;
    bool json = false;
};

// Writes the plan's settings through the library, which checks them again against what the reader
// holds, writes them in the tool's order and reads them back. A refusal of the reader to keep a
// value is no failure here: the caller reads back and names every difference.
int WriteChanges(zendrik::Reader& reader, const std::vector<std::string>& assignments) {
    try {
        reader.configure(assignments);
    } catch (const zendrik::Error& error) {
        if (error.code() == ZENDRIK_ERR_VERIFY) {
            return kExitOk;
        }
        const int status =
            zendrik_result_kind(error.code()) == ZENDRIK_RESULT_KIND_BAD_ARGUMENT ? kExitUsage : kExitFailure;
        return Report(std::string(error.what()) + " (" + std::to_string(error.code()) + ")", status);
    }
    return kExitOk;
}

int RunSet(const LinkOptions& link, const SetOptions& options) {
    std::optional<zendrik::Reader> reader;
    uint8_t kind = 0;
    if (const int status = OpenSingleReader(link, "set", reader, kind); status != kExitOk) {
        return status;
    }
    rules::ReaderSettings current;
    if (const int32_t result = ReadSettings(*reader, current); result != ZENDRIK_OK) {
        return Report("cannot read the settings: " + zendrik::result_words(result));
    }
    // Planned here too, for the names to show and to compare; a refusal sends nothing.
    rules::ChangePlan plan;
    if (const std::string error = rules::PlanChanges(options.assignments, kind, current, plan);
        !error.empty()) {
        return Report(error + "; nothing was written", kExitUsage);
    }
    if (const int status = WriteChanges(*reader, options.assignments); status != kExitOk) {
        return status;
    }
    rules::ReaderSettings readBack;
    if (const int32_t result = ReadSettings(*reader, readBack); result != ZENDRIK_OK) {
        return Report("written, but cannot read the settings back: " + zendrik::result_words(result));
    }
    if (options.json) {
        std::printf("%s\n", rules::SettingsJson(kind, plan.named, readBack).c_str());
    } else {
        std::fputs(SettingsText(plan.named, readBack).c_str(), stdout);
    }
    const std::vector<std::string> differences = rules::Mismatches(plan, readBack);
    for (const std::string& difference : differences) {
        Report(difference + ": " + zendrik::result_words(ZENDRIK_ERR_VERIFY));
    }
    return differences.empty() ? kExitOk : kExitFailure;
}

}  // namespace

Subcommand AddSetCommand(CLI::App& program, const LinkOptions& link) {
    auto options = std::make_shared<SetOptions>();
    CLI::App* app = program.add_subcommand(
        "set",
        "Write settings: every value is checked with the configuration tool's ranges before anything is "
        "sent, "
        "the writes go in the order of the tool's Save Changes, and the settings are read back and compared. "
        "Shows the settings as read back.");
    app->add_option("assignments", options->assignments, "settings to write, e.g. power=20 buzzer=off")
        ->type_name("NAME=VALUE")
        ->required();
    app->add_flag("--json", options->json, "print the settings read back as a JSON object");
    app->footer(
        "Names and values are those of zendrik config --help. A new wiegand-format also sets output-length "
        "to its byte count (3 or 4) unless output-length is given.\n\n" +
        std::string(kLinkOptionsNote));
    return {app, [&link, options] { return RunSet(link, *options); }};
}

}  // namespace zendrik::cli
