#pragma once

#include <string>

namespace zendrik::daemon {

// How much goes to the journal: kInfo is what an operator reads (the default); kDebug adds every
// step a part takes (a reader's state changes), for finding out why it did what it did.
enum class LogLevel {
    kInfo,
    kDebug,
};

void SetLogLevel(LogLevel level);
// Whether lines of `level` are written: a caller that has to put a line together asks first.
bool Logs(LogLevel level);

// One line on standard error (the journal under systemd), written whole.
void Log(const std::string& line);
// The same at kDebug: written only when the level is set so.
void LogDebug(const std::string& line);

}  // namespace zendrik::daemon
