// zendrik info: greets the reader and shows what it says about itself.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/reader_session.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/identity_text.h"

namespace zendrik::cli {
namespace {

using IdentityBuffer = std::array<uint8_t, rules::kIdentityBytes>;

struct InfoOptions {
    bool json = false;
};

std::string LinkText(const LinkOptions& link) {
    switch (link.kind) {
        case LinkKind::kSerial:
            return "serial " + link.serialDevice + " " + std::to_string(link.baud);
        case LinkKind::kUdp:
            return "udp " + link.reader;
        case LinkKind::kUsb:
            break;
    }
    return "usb";
}

int RunInfo(const LinkOptions& link, const InfoOptions& options) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    IdentityBuffer version{};
    if (const int32_t result = Get_Version(kReaderAddress, version.data()); result != ZENDRIK_OK) {
        return Report("cannot read the version: " + ResultWords(result));
    }
    IdentityBuffer serial{};
    if (const int32_t result = Get_SerNum(kReaderAddress, serial.data()); result != ZENDRIK_OK) {
        return Report("cannot read the serial number: " + ResultWords(result));
    }
    const std::string serialText = rules::SerialNumberText(serial);
    const std::string versionText = rules::VersionText(version);
    if (options.json) {
        nlohmann::ordered_json json;
        json["link"] = LinkText(link);
        json["reader-kind"] = session.kind();
        json["low-value"] = session.low_value();
        json["version"] = versionText;
        json["serial-number"] = serialText;
        std::printf("%s\n", json.dump(2).c_str());
        return kExitOk;
    }
    std::printf("link           %s\n", LinkText(link).c_str());
    std::printf("reader-kind    %u\n", unsigned{session.kind()});
    std::printf("low-value      %u\n", unsigned{session.low_value()});
    std::printf("version        %s\n", versionText.c_str());
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
