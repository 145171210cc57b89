// zendrikd: the readers of a site published to an MQTT broker, through a spool that loses nothing.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>

#include "daemon/common/log.h"
#include "daemon/config/config.h"
#include "daemon/config/config_print.h"
#include "daemon/http/console_files.h"
#include "daemon/loop/notify.h"
#include "daemon/readers/session_source.h"
#include "daemon/site/site.h"
#include "daemon/store/spool.h"

namespace {

using namespace zendrik::daemon;

constexpr const char* kDescription =
    "zendrikd reads the UHF RFID readers of one site continuously and publishes every read and presence "
    "event to an MQTT broker. Every message is stored in a spool before it is published and deleted when "
    "the broker has acknowledged it, so nothing is lost while the broker is away. Webhooks ([[output]] "
    "tables) get the same events as JSON arrays POSTed over HTTP(S), each from its own place in the spool, "
    "beside the broker or without one. Over HTTP it serves its "
    "health, Prometheus metrics, a REST API, a live event stream and the site console.";

constexpr const char* kFooter =
    "Topics: PREFIX/SITE/READER/reads and .../events (QoS 1), PREFIX/SITE/READER/status and "
    "PREFIX/SITE/status (retained; the site's last will is {\"state\":\"offline\"}, and every status says "
    "\"offline\" after a clean stop); PREFIX/SITE/audit (QoS 1): the audit trail of every command and "
    "settings write.\n"
    "\n"
    "Signals: SIGTERM and SIGINT stop, SIGHUP reads the configuration again.\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 when the configuration, the spool, the HTTP server (its "
    "port taken, say) or a reader could not be set up; 2 for a command line that was refused; 3 when the "
    "broker refused the connection (credentials, protocol, TLS).";

DaemonConfig Load(const std::string& path) {
    try {
        return LoadConfig(path, CheckReaderAddress);
    } catch (const ConfigError& error) {
        throw ConfigError(0, DescribeConfigError(path, error));
    }
}

// The console's folder: the one named on the command line, else the installed one, else the one
// beside the program (a build tree's); the first of them that was looked in when none has it.
void ApplyCommandLine(DaemonConfig& config, const std::string& consoleDir) {
    config.http.consoleLooked = ConsoleFolders(consoleDir, config.http.consoleDir, ProgramPath());
    config.http.consoleDir =
        FolderWithConsole(config.http.consoleLooked).value_or(config.http.consoleLooked.front());
}

int Serve(const DaemonConfig& config, const std::string& path, const std::string& consoleDir) {
    Notifier notifier;
    Spool spool(config.spool.path, config.spool.maxMessages,
                SpoolLostMessages(Topics(config.mqtt.topicPrefix, config.site)));
    for (const std::string& note : spool.notes()) {
        Log(note);
    }
    const SourceFactory sessions = [](const ReaderConfig& reader) {
        return std::make_unique<SessionSource>(reader);
    };
    Site site(config, sessions, EventJson, spool, notifier, [path, consoleDir] {
        DaemonConfig next = Load(path);
        ApplyCommandLine(next, consoleDir);
        for (const std::string& warning : ConfigFileWarnings(path, next)) {
            Log(warning);
        }
        return next;
    });
    return site.Run();
}

int Run(int argc, char** argv) {
    CLI::App program(kDescription, "zendrikd");
    program.set_version_flag("--version", "zendrikd " ZENDRIK_VERSION);
    program.footer(kFooter);
    std::string path = kDefaultConfigPath;
    bool checkOnly = false;
    std::string consoleDir;
    program.add_option("--config", path, "the configuration file")->capture_default_str();
    program.add_option("--console-dir", consoleDir,
                       "the folder of the site console's files that the HTTP server serves (default: "
                       "the installed " ZENDRIK_CONSOLE_DIR ")");
    program.add_flag("--check-config", checkOnly,
                     "check the configuration file and the spool's directory, and exit");
    bool printConfig = false;
    program.add_flag("--print-config", printConfig,
                     "check the configuration file, print it as the daemon runs it (every default, each "
                     "reader's settings merged over its profile's, secrets not shown), and exit");
    bool debug = false;
    program.add_flag("--debug", debug, "log every change of each reader's state too");
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return program.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    SetLogLevel(debug ? LogLevel::kDebug : LogLevel::kInfo);
    DaemonConfig config;
    try {
        config = Load(path);
    } catch (const ConfigError& error) {
        Log(error.reason());
        return kExitFailure;
    }
    ApplyCommandLine(config, consoleDir);
    for (const std::string& warning : ConfigFileWarnings(path, config)) {
        Log(warning);
    }
    // A spool that cannot be made is said as such, not as the lock file SQLite's open would fail on.
    if (const auto problem = SpoolDirectoryProblem(config.spool)) {
        Log(path + ": " + *problem);
        return kExitFailure;
    }
    if (printConfig) {
        std::fputs(PrintedConfig(config).c_str(), stdout);
        return kExitOk;
    }
    if (const auto problem = OutputFileProblem(config)) {
        Log(DescribeConfigError(path, *problem));
        return kExitFailure;
    }
    if (checkOnly) {
        std::printf("%s: configuration of site %s with %zu readers is valid\n", path.c_str(),
                    config.site.c_str(), config.readers.size());
        return kExitOk;
    }
    // A broker that closes its end must not kill the daemon in the middle of a write; the user
    // signals have no meaning to it and must not end it either.
    for (const int ignored : {SIGPIPE, SIGUSR1, SIGUSR2}) {
        ::signal(ignored, SIG_IGN);
    }
    try {
        return Serve(config, path, consoleDir);
    } catch (const std::exception& error) {
        Log(error.what());
        return kExitFailure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    return Run(argc, argv);
}
