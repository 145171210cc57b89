#pragma once

#include <csignal>

namespace zendrik::cli {

// While it lives, SIGINT and SIGTERM only raise a flag and make descriptor() readable, so that a
// long read can wait in poll() for events and the interrupt at once, then stop its readers and say
// goodbye to them.
class InterruptFlag {
  public:
    InterruptFlag();
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    bool raised() const;
    // Readable once the flag is raised; -1 when no pipe could be made (then only the flag tells).
    int descriptor() const { return wakeRead_; }

  private:
    int wakeRead_ = -1;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

}  // namespace zendrik::cli
