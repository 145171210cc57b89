#pragma once

#include <string>

#include "daemon/config/config.h"

namespace zendrik::daemon {

// The configuration as the daemon runs it, as a TOML text that reads back to the same values:
// every key with its value or default, each reader's settings merged over its profile's with a
// comment saying where each value comes from. Secrets (the MQTT password, the HTTP token) are
// not shown, only that they are set.
std::string PrintedConfig(const DaemonConfig& config);

}  // namespace zendrik::daemon
