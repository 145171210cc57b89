#include "tests/daemon/webhook_server.h"

#include <chrono>
#include <stdexcept>
#include <vector>

namespace zendrik::testing {
namespace {

const std::string kPython = "/usr/bin/python3";
constexpr std::chrono::seconds kStartLimit{30};

}  // namespace

WebhookServer::WebhookServer(const TemporaryDirectory& directory, const std::string& certificate,
                             const std::string& key, const std::string& log, const std::string& script,
                             const std::string& bodies) {
    const std::string portFile = directory.File("webhook-server.port");
    const std::string output = directory.File("webhook-server.log");
    std::vector<std::string> arguments{kPython, WEBHOOK_SERVER_PATH, portFile, certificate, key, log, script};
    if (!bodies.empty()) {
        arguments.push_back(bodies);
    }
    process_ = std::make_unique<ChildProcess>(arguments, output);
    // The server renames its port file into place once it listens: one that exists is whole.
    if (!WaitForFile(portFile, kStartLimit)) {
        throw std::runtime_error("the webhook receiver did not start: " + ReadFile(output));
    }
    port_ = static_cast<uint16_t>(std::stoul(ReadFile(portFile)));
}

}  // namespace zendrik::testing
