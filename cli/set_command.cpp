// zendrik set NAME=VALUE...: checks the values with the tool's ranges, writes them in the order of
// the tool's Save Changes, then reads every setting back and compares.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/reader_session.h"
#include "cli/result_words.h"
#include "cli/settings_output.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

struct SetOptions {
    std::vector<std::string> assignments;
    bool json = false;
};

bool Plans(const ChangePlan& plan, WriteStep step) {
    return std::find(plan.steps.begin(), plan.steps.end(), step) != plan.steps.end();
}

// The writes in order. The tool writes the Wiegand output interval once more after the output
// settings, so a new interval is sent again there as well.
std::vector<WriteStep> Writes(const ChangePlan& plan) {
    std::vector<WriteStep> writes;
    for (const WriteStep step : plan.steps) {
        writes.push_back(step);
        if (step == WriteStep::kOutputBytes && Plans(plan, WriteStep::kWiegandInterval)) {
            writes.push_back(WriteStep::kWiegandInterval);
        }
    }
    return writes;
}

int32_t WritePlan(uint8_t kind, const ChangePlan& plan, std::string& failedStep) {
    for (const WriteStep step : Writes(plan)) {
        if (const int32_t result = WriteSetting(step, kind, plan.target); result != ZENDRIK_OK) {
            failedStep = WriteStepName(step);
            return result;
        }
    }
    return ZENDRIK_OK;
}

// The named settings whose read-back differs from what was written.
std::vector<std::string> Mismatches(const ChangePlan& plan, const ReaderSettings& readBack) {
    std::vector<std::string> differences;
    for (const Setting* setting : plan.named) {
        const std::string wanted = setting->format(plan.target);
        const std::string got = setting->format(readBack);
        if (wanted != got) {
            differences.push_back(std::string(setting->name) + " was set to " + wanted +
                                  " but reads back as " + got);
        }
    }
    return differences;
}

int RunSet(const LinkOptions& link, const SetOptions& options) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    ReaderSettings current;
    std::string item;
    if (const int32_t result = ReadSettings(current, item); result != ZENDRIK_OK) {
        return Report("cannot read the " + item + ": " + ResultWords(result));
    }
    ChangePlan plan;
    if (const std::string error = PlanChanges(options.assignments, session.kind(), current, plan);
        !error.empty()) {
        return Report(error + "; nothing was written", kExitUsage);
    }
    std::string failedStep;
    if (const int32_t result = WritePlan(session.kind(), plan, failedStep); result != ZENDRIK_OK) {
        return Report("writing the " + failedStep + " failed: " + ResultWords(result) +
                      "; the writes before it were made");
    }
    ReaderSettings readBack;
    if (const int32_t result = ReadSettings(readBack, item); result != ZENDRIK_OK) {
        return Report("written, but cannot read the " + item + " back: " + ResultWords(result));
    }
    if (options.json) {
        std::printf("%s\n", SettingsJson(session.kind(), plan.named, readBack).dump(2).c_str());
    } else {
        std::fputs(SettingsText(plan.named, readBack).c_str(), stdout);
    }
    const std::vector<std::string> differences = Mismatches(plan, readBack);
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
