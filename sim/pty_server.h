#pragma once

#include <string>
#include <thread>

#include "link/unique_fd.h"
#include "sim/request_scanner.h"
#include "sim/responder.h"
#include "sim/trace_log.h"
#include "sim/wake_event.h"

namespace zendrik::sim {

// The reader on a serial line: a pseudo-terminal whose slave side the library opens as its port
// (ZENDRIK_COMn=<path>). Requests are cut out of the byte stream; each reply is written back
// whole, after its delay. The server keeps a descriptor of the slave side open itself, so the
// terminal stays usable while the library closes and reopens it.
class PtyServer {
  public:
    // Opens the pseudo-terminal and starts serving; throws std::system_error when it cannot.
    explicit PtyServer(Responder responder, TraceLog* trace = nullptr);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // The slave side's path, e.g. /dev/pts/3.
    const std::string& path() const { return path_; }

  private:
    void Serve(std::stop_token stop);
    void HandleInput();
    void Answer(const ScannedFrame& frame);
    void WriteAll(std::span<const uint8_t> bytes);
    void TraceSkipped();

    Responder responder_;
    TraceLog* trace_;
    UniqueFd master_;
    std::string path_;
    UniqueFd slave_;
    WakeEvent wake_;
    RequestScanner scanner_;
    std::jthread thread_;  // last: stops before the descriptors close
};

}  // namespace zendrik::sim
