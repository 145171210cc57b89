// zendrik info: greets the reader and shows what it says about itself.
#include <zendrik_session.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/reader_session.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/identity_text.h"

namespace zendrik::cli {
namespace {

struct InfoOptions {
    bool json = false;
};

int RunInfo(const LinkOptions& link, const InfoOptions& options) {
    const std::optional<ReaderChoice> choice = SingleReader(link, "info");
    if (!choice) {
        return kExitUsage;
    }
    std::optional<zendrik::Reader> reader;
    if (const int status = OpenReader(*choice, reader); status != kExitOk) {
        return status;
    }
    zendrik_reader_info info{};
    info.size = sizeof info;
    if (const int32_t result = zendrik_reader_info_get(reader->get(), &info); result != ZENDRIK_OK) {
        return Report("cannot read the version and serial number: " + zendrik::result_words(result));
    }
    const std::string serialText = std::string(rules::kSerialNumberPrefix) + info.serial;
    if (options.json) {
        nlohmann::ordered_json json;
        json["link"] = choice->link;
        json["reader-kind"] = info.kind;
        json["low-value"] = info.low_value;
        json["version"] = info.version;
        json["serial-number"] = serialText;
        json["serial"] = info.serial;  // the bare hex the session API, Python and zendrikd give
        std::printf("%s\n", json.dump(2).c_str());
        return kExitOk;
    }
    std::printf("link           %s\n", choice->link.c_str());
    std::printf("reader-kind    %d\n", static_cast<int>(info.kind));
    std::printf("low-value      %d\n", static_cast<int>(info.low_value));
    std::printf("version        %s\n", info.version);
    std::printf("serial-number  %s\n", serialText.c_str());
    return kExitOk;
}

}  // namespace

Subcommand AddInfoCommand(CLI::App& program, const LinkOptions& link) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* app = program.add_subcommand(
        "info", "Greet the reader (handshake) and show its kind, version and serial number.");
    app->add_flag("--json", options->json, "print a JSON object instead of text");
    app->footer(kLinkOptionsNote);
    return {app, [&link, options] { return RunInfo(link, *options); }};
}

}  // namespace zendrik::cli
