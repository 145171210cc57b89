#include "link/device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace zendrik {
namespace {

// Lock files of our own may be locked by every user who may use the device.
constexpr mode_t kLockFileMode = 0666;
constexpr const char* kLockFileSuffix = ".lock";
// The byte of the lock file whose shared record lock says "a program waits for the device".
constexpr off_t kWaitingByte = 0;
constexpr off_t kWaitingLength = 1;

// True when taken; false with errno EWOULDBLOCK when another holder has it.
bool TryLock(const UniqueFd& file) {
    int result = 0;
    do {
        result = ::flock(file.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

struct flock WaitingRegion(short type) {
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = kWaitingByte;
    region.l_len = kWaitingLength;
    return region;
}

// Record locks and flock locks do not see each other, so the waiting mark never stands in the way
// of the device lock itself.
void ShowWaiting(const UniqueFd& file, bool waiting) {
    struct flock region = WaitingRegion(waiting ? F_RDLCK : F_UNLCK);
    ::fcntl(file.get(), F_OFD_SETLK, &region);
}

bool OthersWaiting(const UniqueFd& file) {
    struct flock region = WaitingRegion(F_WRLCK);
    return ::fcntl(file.get(), F_OFD_GETLK, &region) == 0 && region.l_type != F_UNLCK;
}

}  // namespace

std::optional<DeviceLockFile> LockFileOfDevice(const std::string& devicePath) {
    struct stat status {};
    if (::stat(devicePath.c_str(), &status) != 0) {
        return std::nullopt;
    }
    if (S_ISCHR(status.st_mode)) {
        return DeviceLockFile{devicePath, false};
    }
    if (S_ISSOCK(status.st_mode)) {
        return DeviceLockFile{devicePath + kLockFileSuffix, true};
    }
    return std::nullopt;
}

UniqueFd OpenDeviceLockFile(const DeviceLockFile& file) {
    // Read-only is enough for flock and for shared record locks; non-blocking, so that opening a
    // device node never waits.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (file.create ? O_CREAT : 0);
    return UniqueFd(::open(file.path.c_str(), flags, kLockFileMode));
}

namespace {

enum class Taken { kHeld, kBusy, kNoLocks };

// Takes the lock on an opened lock file as DeviceLock::Acquire describes.
Taken TakeLock(const UniqueFd& opened, Clock& clock, Milliseconds patience,
               std::optional<Clock::TimePoint> turnUntil) {
    if (turnUntil && *turnUntil > clock.now() && OthersWaiting(opened)) {
        clock.sleep_until(*turnUntil);
    }
    const Clock::TimePoint deadline = clock.now() + patience;
    bool waiting = false;
    while (!TryLock(opened)) {
        if (errno != EWOULDBLOCK) {
            return Taken::kNoLocks;  // a file system without locks: nobody can take turns on it
        }
        if (clock.now() >= deadline) {
            if (waiting) {
                ShowWaiting(opened, false);
            }
            return Taken::kBusy;
        }
        if (!waiting) {
            ShowWaiting(opened, true);
            waiting = true;
        }
        clock.sleep_until(std::min(clock.now() + kDeviceLockRetry, deadline));
    }
    if (waiting) {
        ShowWaiting(opened, false);
    }
    return Taken::kHeld;
}

}  // namespace

// A lock file opened for one exchange only is a kept one that nobody else keeps: it closes when the
// lock goes.
std::optional<DeviceLock> DeviceLock::Acquire(const DeviceLockFile& file, Clock& clock, Milliseconds patience,
                                              std::optional<Clock::TimePoint> turnUntil) {
    return AcquireKept(std::make_shared<const UniqueFd>(OpenDeviceLockFile(file)), clock, patience,
                       turnUntil);
}

std::optional<DeviceLock> DeviceLock::AcquireKept(std::shared_ptr<const UniqueFd> kept, Clock& clock,
                                                  Milliseconds patience,
                                                  std::optional<Clock::TimePoint> turnUntil) {
    if (!kept || !*kept) {
        return DeviceLock();
    }
    switch (TakeLock(*kept, clock, patience, turnUntil)) {
        case Taken::kHeld: {
            DeviceLock lock;
            lock.kept_ = std::move(kept);
            return lock;
        }
        case Taken::kBusy:
            return std::nullopt;
        case Taken::kNoLocks:
            break;
    }
    return DeviceLock();
}

DeviceLock& DeviceLock::operator=(DeviceLock&& other) noexcept {
    if (this != &other) {
        Release();
        kept_ = std::move(other.kept_);
    }
    return *this;
}

DeviceLock::~DeviceLock() {
    Release();
}

void DeviceLock::Release() {
    if (kept_) {
        ::flock(kept_->get(), LOCK_UN);
        kept_.reset();
    }
}

}  // namespace zendrik
