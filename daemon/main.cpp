// zendrikd: the readers of a site published to an MQTT broker, through a spool that loses nothing.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "daemon/config.h"
#include "daemon/daemon.h"
#include "daemon/log.h"
#include "daemon/notify.h"
#include "daemon/session_source.h"
#include "daemon/spool.h"

namespace {

using namespace zendrik::daemon;

constexpr const char* kDescription =
    "zendrikd reads the UHF RFID readers of one site continuously and publishes every read and presence "
    "event to an MQTT broker. Every message is stored in a spool before it is published and deleted when "
    "the broker has acknowledged it, so nothing is lost while the broker is away.";

constexpr const char* kFooter =
    "Topics: PREFIX/SITE/READER/reads and .../events (QoS 1), PREFIX/SITE/READER/status and "
    "PREFIX/SITE/status (retained; the site's last will is {\"state\":\"offline\"}).\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 when the configuration, the spool or a reader could not be "
    "set up; 2 for a command line that was refused; 3 when the broker refused the connection (credentials, "
    "protocol, TLS).";

// SIGTERM and SIGINT arrive as a readable descriptor in the daemon's poll loop.
class StopSignals {
  public:
    StopSignals() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        ::sigprocmask(SIG_BLOCK, &signals, nullptr);
        fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
        // A broker that closes its end must not kill the daemon in the middle of a write.
        ::signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

int Serve(const DaemonConfig& config) {
    StopSignals signals;
    if (signals.fd() < 0) {
        Log("cannot watch for signals");
        return kExitFailure;
    }
    Notifier notifier;
    Spool spool(config.spool.path, config.spool.maxMessages);
    for (const std::string& note : spool.notes()) {
        Log(note);
    }
    std::vector<ReaderSlot> readers;
    for (const ReaderConfig& reader : config.readers) {
        readers.push_back(ReaderSlot{reader.name, std::make_unique<SessionSource>(reader)});
    }
    Daemon daemon(config, std::move(readers), EventJson, spool, notifier);
    return daemon.Run(signals.fd());
}

int Run(int argc, char** argv) {
    CLI::App program(kDescription, "zendrikd");
    program.set_version_flag("--version", "zendrikd " ZENDRIK_VERSION);
    program.footer(kFooter);
    std::string path = kDefaultConfigPath;
    bool checkOnly = false;
    program.add_option("--config", path, "the configuration file")->capture_default_str();
    program.add_flag("--check-config", checkOnly, "check the configuration file and exit");
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return program.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    DaemonConfig config;
    try {
        config = LoadConfig(path, CheckReaderAddress);
    } catch (const ConfigError& error) {
        const std::string where = error.line() > 0 ? path + ":" + std::to_string(error.line()) : path;
        Log(where + ": " + error.reason());
        return kExitFailure;
    }
    if (checkOnly) {
        std::printf("%s: configuration of site %s with %zu readers is valid\n", path.c_str(),
                    config.site.c_str(), config.readers.size());
        return kExitOk;
    }
    try {
        return Serve(config);
    } catch (const std::exception& error) {
        Log(error.what());
        return kExitFailure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    return Run(argc, argv);
}
