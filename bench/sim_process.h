#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/unique_fd.h"

namespace zendrik::bench {

// The virtual reader as its own program (zendrik-sim), so that the processor time of the
// benchmark's process is the library's alone. Serves one transport on loopback; the reader
// address a session opens it by is read from the lines the program prints.
class SimProcess {
  public:
    enum class Transport { kUsb, kUdp, kSerial };

    // Starts zendrik-sim with the transport's option and `extra` arguments, and waits for the line
    // that says where it listens. Throws std::runtime_error when it does not come.
    SimProcess(Transport transport, const std::vector<std::string>& extra);
    // Stops the program if Stop() has not.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& address() const { return address_; }

    // Stops the program (SIGTERM) and returns the tag reads it says it answered; -1 when it does
    // not say.
    int64_t Stop();

  private:
    std::string ReadLine(int fd);

    pid_t pid_ = -1;
    UniqueFd stdout_;
    UniqueFd stderr_;
    std::string directory_;
    std::string address_;
};

}  // namespace zendrik::bench
