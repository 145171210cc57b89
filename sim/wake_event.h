#pragma once

#include <chrono>

#include "link/unique_fd.h"

namespace zendrik::sim {

// Wakes a server thread out of poll() when it is to stop: an eventfd that, once signalled, stays
// readable, so every later poll and wait returns at once too.
class WakeEvent {
  public:
    WakeEvent();  // throws std::system_error when no eventfd can be made

    void Signal();
    int fd() const { return fd_.get(); }
    bool signalled() const;

    // Waits `duration` unless signalled first. True when the whole time passed.
    bool WaitFor(std::chrono::milliseconds duration) const;

  private:
    UniqueFd fd_;
};

}  // namespace zendrik::sim
