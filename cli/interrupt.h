#pragma once

#include <csignal>

namespace zendrik::cli {

// While it lives, SIGINT and SIGTERM only raise a flag, so that a long read can stop between two
// tag reads and still say goodbye to the reader and close the port.
class InterruptFlag {
  public:
    InterruptFlag();
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    bool raised() const;

  private:
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

}  // namespace zendrik::cli
