#pragma once

#include <stdexcept>

namespace zendrik::daemon {

// The spool could not be opened or used: locked by another daemon, a directory missing, a disk error.
class SpoolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace zendrik::daemon
