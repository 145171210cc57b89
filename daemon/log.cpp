#include "daemon/log.h"

#include <unistd.h>

namespace zendrik::daemon {

void Log(const std::string& line) {
    const std::string text = "zendrikd: " + line + "\n";
    // One write per line, so that lines from several threads or processes never interleave.
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
