#pragma once

#include <string>

namespace zendrik::daemon {

// One line on standard error (the journal under systemd), written whole.
void Log(const std::string& line);

}  // namespace zendrik::daemon
