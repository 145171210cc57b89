#include "daemon/store/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zendrik::daemon {

FileLock::FileLock(const std::string& path) {
    constexpr mode_t kLockFileMode = 0640;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockFileMode);
    if (fd_ < 0) {
        failure_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        failure_ = errno == EWOULDBLOCK ? "another zendrikd uses " + path
                                        : "cannot lock " + path + ": " + std::strerror(errno);
        return;
    }
    held_ = true;
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace zendrik::daemon
