#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/daemon/child_process.h"

namespace zendrik::testing {

// webhook_server.py's certificate and key for plain HTTP.
inline constexpr const char* kPlainHttp = "-";

// tests/daemon/webhook_server.py on 127.0.0.1, listening once made (throws std::runtime_error
// with its log when it does not start): HTTPS with `certificate` and `key` (or plain HTTP with
// kPlainHttp for both), every request written to `log`, answered by `script`, and every accepted
// body kept in `bodies` when given. Its port file and log are in `directory`.
class WebhookServer {
  public:
    WebhookServer(const TemporaryDirectory& directory, const std::string& certificate, const std::string& key,
                  const std::string& log, const std::string& script, const std::string& bodies = "");

    uint16_t port() const { return port_; }

  private:
    std::unique_ptr<ChildProcess> process_;
    uint16_t port_ = 0;
};

}  // namespace zendrik::testing
