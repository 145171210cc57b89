#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "link/unique_fd.h"
#include "sim/responder.h"
#include "sim/trace_log.h"
#include "sim/wake_event.h"

namespace zendrik::sim {

// The reader as a virtual HID device (ZENDRIK_HID_SOCKET=<path>): a Unix SOCK_SEQPACKET socket.
// Each connection is an opened device and is greeted with the 8-byte hello (vendor 0x0416,
// product 0xB00B, both report lengths 65). Only the newest connection is served: the library opens
// the device afresh for every exchange. Each output report (report id, then the request frame
// padded with zeros) is one request; its reply goes back as one input report (report id 0, the
// reply frame, zeros), after the reply's delay, provided the connection is still the newest. A
// reply longer than one report's 64 bytes is cut to them, as a real report would be.
class HidSocketServer {
  public:
    // Binds `path` (which must not exist yet) and starts serving; throws std::system_error when
    // it cannot, std::invalid_argument when the path does not fit a socket address.
    explicit HidSocketServer(Responder responder, std::string path, TraceLog* trace = nullptr);
    // Stops serving and removes the socket file.
    ~HidSocketServer();
    HidSocketServer(const HidSocketServer&) = delete;
    HidSocketServer& operator=(const HidSocketServer&) = delete;

    const std::string& path() const { return path_; }

  private:
    void Serve(std::stop_token stop);
    void AcceptNewest();
    void HandleReport();

    Responder responder_;
    std::string path_;
    TraceLog* trace_;
    UniqueFd listener_;
    UniqueFd connection_;
    uint64_t generation_ = 0;  // counts connections, so a late reply can tell it has been overtaken
    WakeEvent wake_;
    std::jthread thread_;  // last: stops before the sockets close
};

}  // namespace zendrik::sim
