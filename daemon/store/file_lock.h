#pragma once

#include <string>

namespace zendrik::daemon {

// An exclusive lock on a file (created when missing) held until destruction. Taken without
// waiting: `held()` is false when another process holds it.
class FileLock {
  public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return held_; }
    // Why the lock could not be taken ("" when held).
    const std::string& failure() const { return failure_; }

  private:
    int fd_ = -1;
    bool held_ = false;
    std::string failure_;
};

}  // namespace zendrik::daemon
