// zendrik listen: a site's events from its MQTT broker, each once and each stream in order, with a
// line for every number that never came (a gap) or that the daemon announced lost; or the same
// check over a stored file of webhook bodies.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

#include "cli/interrupt.h"
#include "cli/site_listener.h"
#include "cli/stream_check.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

// With --strict, an unannounced gap ends the program with this status.
constexpr int kExitGap = 3;

struct ListenCommandOptions {
    std::string broker;
    ListenOptions listen;
    std::string webhookFile;
    bool strict = false;
};

bool PrintLine(const Json& line) {
    std::printf("%s\n", line.dump().c_str());
    std::fflush(stdout);
    return true;
}

int CheckStoredBodies(const ListenCommandOptions& options) {
    std::ifstream in(options.webhookFile);
    if (!in) {
        return Report("cannot read " + options.webhookFile, kExitUsage);
    }
    StreamChecker checker(0);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const Json message = Json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (message.is_discarded()) {
            return Report(options.webhookFile + ":" + std::to_string(number) + ": not JSON");
        }
        for (const Json& line : checker.Offer(message, 0)) {
            PrintLine(line);
        }
    }
    for (const Json& line : checker.Finish()) {
        PrintLine(line);
    }
    return options.strict && checker.gaps() > 0 ? kExitGap : kExitOk;
}

int RunListen(ListenCommandOptions& options) {
    if (!options.webhookFile.empty()) {
        return CheckStoredBodies(options);
    }
    if (options.broker.empty() || options.listen.site.empty()) {
        return Report("listen needs --broker and --site (or --webhook-file)", kExitUsage);
    }
    const auto broker = ParseBrokerUrl(options.broker);
    if (!broker) {
        return Report("the broker must be given as mqtt://HOST[:PORT], not " + options.broker, kExitUsage);
    }
    options.listen.host = broker->first;
    options.listen.port = broker->second;
    StreamChecker checker(options.listen.gapWaitSeconds);
    const InterruptFlag interrupt;
    bool gapSeen = false;
    const auto give = [&](const Json& line) {
        PrintLine(line);
        gapSeen = gapSeen || line.contains("gap");
        return !(options.strict && gapSeen);
    };
    if (const auto failure =
            ListenToSite(options.listen, checker, give, [&] { return !interrupt.raised(); })) {
        return Report(*failure);
    }
    return options.strict && gapSeen ? kExitGap : kExitOk;
}

}  // namespace

Subcommand AddListenCommand(CLI::App& program) {
    auto options = std::make_shared<ListenCommandOptions>();
    CLI::App* app = program.add_subcommand(
        "listen",
        "Print a site's events from its MQTT broker, each once and each reader's (zone's, door's) stream in "
        "order, in a persistent session (clean session off, QoS 1), as JSON lines; a {\"gap\":...} line for "
        "numbers that did not come within the gap wait, a {\"lost\":...} line for numbers a spool-lost event "
        "announced. Ends on Ctrl-C; with --strict, at the first gap, with status 3.");
    app->add_option("--broker", options->broker, "The broker, mqtt://HOST[:PORT] (port 1883 by default)");
    app->add_option("--site", options->listen.site, "The site, as zendrikd's configuration names it");
    app->add_option("--prefix", options->listen.prefix, "The topic prefix")->capture_default_str();
    app->add_option(
        "--client-id", options->listen.clientId,
        "The session's client id (default zendrik-listen-SITE): the broker keeps what comes for it "
        "while the listener is away");
    app->add_option("--state", options->listen.stateFile,
                    "A file that keeps each stream's place across runs of the listener");
    app->add_option("--gap-wait", options->listen.gapWaitSeconds,
                    "Seconds a missing number may take to come before it is a gap")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 86400.0));
    app->add_option("--webhook-file", options->webhookFile,
                    "Check a stored file of webhook bodies (or event lines), one JSON text a line, instead");
    app->add_flag("--strict", options->strict, "End with status 3 on a gap that was not announced");
    app->footer(
        "Examples:\n  zendrik listen --broker mqtt://broker.local --site dock-3 --state "
        "/var/lib/wms/dock-3.state\n"
        "  zendrik listen --webhook-file bodies.log --strict");
    return {app, [options] { return RunListen(*options); }};
}

}  // namespace zendrik::cli
