#include "daemon/mqtt/retained_statuses.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace zendrik::daemon {
namespace {

// Far more readers than a site has; a longer file is not ours.
constexpr std::size_t kNamesMax = 100000;

// Writes `text` to `path` and flushes it to the disk; false with errno set on failure.
bool WriteDurably(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + written, text.size() - written);
        ok = wrote > 0 || (wrote < 0 && errno == EINTR);
        written += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

}  // namespace

RetainedStatuses::RetainedStatuses(std::string path) : path_(std::move(path)) {
    std::ifstream file(path_);
    std::string name;
    while (names_.size() < kNamesMax && std::getline(file, name)) {
        if (!name.empty()) {
            names_.insert(name);
        }
    }
}

std::optional<std::string> RetainedStatuses::Save(const std::set<std::string>& names) {
    if (names == names_) {
        return std::nullopt;
    }
    names_ = names;
    std::string text;
    for (const std::string& name : names) {
        text += name + "\n";
    }
    const std::string fresh = path_ + ".new";
    if (!WriteDurably(fresh, text) || std::rename(fresh.c_str(), path_.c_str()) != 0) {
        return "cannot write " + path_ + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

}  // namespace zendrik::daemon
