#pragma once

#include <memory>
#include <optional>
#include <string>

#include "link/clock.h"
#include "link/unique_fd.h"

namespace zendrik {

// How often an exchange that waits for the device tries its lock again, and how long a link that
// has just let go of the device pauses before taking it again when another program waits for it
// (longer than the waiter's retry, so that the waiter gets its turn).
inline constexpr Milliseconds kDeviceLockRetry{1};
inline constexpr Milliseconds kDeviceTurnGap{3 * kDeviceLockRetry};

// The file an exchange locks while it talks to a USB reader.
struct DeviceLockFile {
    std::string path;
    bool create = false;  // a lock file of our own, made when missing; a device node never is
};

// Every open handle of a hidraw node receives every input report, so two programs talking to one
// reader at the same time would take each other's replies. The lock file that stands for the
// device at `devicePath`: a hidraw node (a character device) itself, a virtual device (a Unix
// socket) the file PATH.lock beside it; nothing for anything else (the in-process fakes of tests).
std::optional<DeviceLockFile> LockFileOfDevice(const std::string& devicePath);

// The lock file opened (created when it is one of our own); invalid when it cannot be.
UniqueFd OpenDeviceLockFile(const DeviceLockFile& file);

// An exclusive advisory lock (flock) on a device's lock file, held for one exchange so that two
// programs with one reader open take turns. Released when the DeviceLock goes.
class DeviceLock {
  public:
    // Holds nothing.
    DeviceLock() = default;

    // Takes the lock on `file`, trying again every kDeviceLockRetry on `clock` until `patience` has
    // passed; nothing when another holder kept it all that time. While it waits it shows that it
    // waits (a shared OFD record lock on the file, which flock does not see). When `turnUntil` lies
    // ahead and another program shows that it waits, it first lets that one go until then. A lock
    // file that cannot be opened (a node without permission, a socket directory without write
    // access) gives a DeviceLock that holds nothing: the exchange then goes ahead unlocked, as no
    // other program can lock that file either.
    static std::optional<DeviceLock> Acquire(const DeviceLockFile& file, Clock& clock, Milliseconds patience,
                                             std::optional<Clock::TimePoint> turnUntil = std::nullopt);
    // The same on a lock file kept open from one exchange to the next: the lock is let go with
    // an unlock rather than a close, so an exchange costs no stat, open and close of the file.
    static std::optional<DeviceLock> AcquireKept(std::shared_ptr<const UniqueFd> kept, Clock& clock,
                                                 Milliseconds patience,
                                                 std::optional<Clock::TimePoint> turnUntil = std::nullopt);

    DeviceLock(DeviceLock&&) noexcept = default;
    DeviceLock& operator=(DeviceLock&& other) noexcept;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock();

    bool held() const { return kept_ != nullptr; }

  private:
    void Release();

    std::shared_ptr<const UniqueFd> kept_;  // unlocked on release; kept open while this holds it
};

}  // namespace zendrik
