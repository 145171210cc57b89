#include "daemon/common/log.h"

#include <unistd.h>

#include <atomic>

namespace zendrik::daemon {
namespace {

// Read by every thread that logs, set once at the start.
std::atomic<LogLevel> logLevel{LogLevel::kInfo};

}  // namespace

void SetLogLevel(LogLevel level) {
    logLevel.store(level, std::memory_order_relaxed);
}

bool Logs(LogLevel level) {
    return level <= logLevel.load(std::memory_order_relaxed);
}

void Log(const std::string& line) {
    const std::string text = "zendrikd: " + line + "\n";
    // Whole lines in one write where the system takes them, so that lines of several threads do not mix.
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t wrote = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (wrote <= 0) {
            return;
        }
        written += static_cast<std::size_t>(wrote);
    }
}

void LogDebug(const std::string& line) {
    if (Logs(LogLevel::kDebug)) {
        Log(line);
    }
}

}  // namespace zendrik::daemon
