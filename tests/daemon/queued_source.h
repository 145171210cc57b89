#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <mutex>

#include "daemon/readers/reader_source.h"

namespace zendrik::daemon {

// A reader's stream as the library keeps it, for sources that tests script: events queued, and an
// event descriptor that is readable while any are.
class QueuedSource : public ReaderSource {
  public:
    ~QueuedSource() override { ::close(fd_); }

    int eventFd() const override { return fd_; }
    bool Next(zendrik_event& event) override {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            uint64_t count = 0;
            (void)::read(fd_, &count, sizeof count);
            return false;
        }
        event = queue_.front();
        queue_.pop_front();
        return true;
    }
    std::size_t queued() {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

  protected:
    // Any thread may queue (Open and Start run off the loop).
    void Queue(const zendrik_event& event) {
        std::lock_guard lock(mutex_);
        queue_.push_back(event);
        const uint64_t one = 1;
        (void)::write(fd_, &one, sizeof one);
    }

  private:
    int fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex mutex_;
    std::deque<zendrik_event> queue_;
};

}  // namespace zendrik::daemon
