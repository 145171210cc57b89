#include "daemon/common/log.h"

#include <unistd.h>

namespace zendrik::daemon {

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

}  // namespace zendrik::daemon
