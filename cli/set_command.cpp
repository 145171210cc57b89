// zendrik set NAME=VALUE...: checks the values with the tool's ranges, writes them in the order of
// the tool's Save Changes, then reads every setting back and compares.
#include <zendrik.h>

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

int32_t WritePlan(uint8_t kind, const rules::ChangePlan& plan, std::string& failedStep) {
    for (const rules::SettingCommand command : rules::WriteSequence(plan.commands)) {
        if (const int32_t result = WriteSetting(command, kind, plan.target); result != ZENDRIK_OK) {
            failedStep = rules::CommandName(command);
            return result;
        }
    }
    return ZENDRIK_OK;
}

int RunSet(const LinkOptions& link, const SetOptions& options) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    rules::ReaderSettings current;
    std::string item;
    if (const int32_t result = ReadSettings(current, item); result != ZENDRIK_OK) {
        return Report("cannot read the " + item + ": " + ResultWords(result));
    }
    rules::ChangePlan plan;
    if (const std::string error = rules::PlanChanges(options.assignments, session.kind(), current, plan);
        !error.empty()) {
        return Report(error + "; nothing was written", kExitUsage);
    }
    std::string failedStep;
    if (const int32_t result = WritePlan(session.kind(), plan, failedStep); result != ZENDRIK_OK) {
        return Report("writing the " + failedStep + " failed: " + ResultWords(result) +
                      "; the writes before it were made");
    }
    rules::ReaderSettings readBack;
    if (const int32_t result = ReadSettings(readBack, item); result != ZENDRIK_OK) {
        return Report("written, but cannot read the " + item + " back: " + ResultWords(result));
    }
    if (options.json) {
        std::printf("%s\n", rules::SettingsJson(session.kind(), plan.named, readBack).c_str());
    } else {
        std::fputs(SettingsText(plan.named, readBack).c_str(), stdout);
    }
    const std::vector<std::string> differences = rules::Mismatches(plan, readBack);
    for (const std::string& difference : differences) {
        Report(difference + ": " + ResultWords(ZENDRIK_ERR_VERIFY));
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
