// zendrik config: every setting the configuration tool shows, read from the reader.
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

struct ConfigOptions {
    bool json = false;
};

int RunConfig(const LinkOptions& link, const ConfigOptions& options) {
    std::optional<zendrik::Reader> reader;
    uint8_t kind = 0;
    if (const int status = OpenSingleReader(link, "config", reader, kind); status != kExitOk) {
        return status;
    }
    rules::ReaderSettings settings;
    if (const int32_t result = ReadSettings(*reader, settings); result != ZENDRIK_OK) {
        return Report("cannot read the settings: " + zendrik::result_words(result));
    }
    const std::vector<const rules::Setting*> shown = rules::SettingsFor(kind);
    if (options.json) {
        std::printf("%s\n", rules::SettingsJson(kind, shown, settings).c_str());
    } else {
        std::fputs(SettingsText(shown, settings).c_str(), stdout);
    }
    return kExitOk;
}

std::string SettingsHelp() {
    std::string help = "Settings:\n";
    for (const rules::Setting& setting : rules::AllSettings()) {
        help += "  " + std::string(setting.name) + "  " + std::string(setting.values) + "\n";
    }
    return help;
}

}  // namespace

Subcommand AddConfigCommand(CLI::App& program, const LinkOptions& link) {
    auto options = std::make_shared<ConfigOptions>();
    CLI::App* app = program.add_subcommand(
        "config", "Show every setting of the reader, as the configuration tool shows them.");
    app->add_flag("--json", options->json, "print a JSON object (names as below, plus reader-kind)");
    app->footer(SettingsHelp() + "\n" + kLinkOptionsNote);
    return {app, [&link, options] { return RunConfig(link, *options); }};
}

}  // namespace zendrik::cli
