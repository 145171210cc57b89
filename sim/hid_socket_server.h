#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/unique_fd.h"
#include "sim/responder.h"
#include "sim/trace_log.h"
#include "sim/wake_event.h"

namespace zendrik::sim {

// The reader as a virtual HID device (ZENDRIK_HID_SOCKET=<path>): a Unix SOCK_SEQPACKET socket.
// Each connection is an opened device and is greeted with the 8-byte hello (vendor 0x0416,
// product 0xB00B, both report lengths 65). Like a hidraw node, the device serves every open
// connection: each output report (report id, then the request frame padded with zeros) is one
// request, from whichever connection sends it, and its reply goes back as one input report
// (report id 0, the reply frame, zeros) to every connection that was open when the request came and
// still is, after the reply's delay. So two programs with the device open see each other's replies,
// and a connection opened after a request (the library opens the device afresh for every exchange)
// never sees the late reply to it. A reply longer than one report's 64 bytes is cut to them, as a
// real report would be; a connection whose queue is full misses the report, as a hidraw reader that
// does not read loses reports.
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
    struct Connection {
        UniqueFd socket;
        uint64_t number = 0;  // in the order accepted, so a reply can tell who was open when asked
    };

    void Serve(std::stop_token stop);
    void AcceptWaiting();
    // Reads one output report from a connection's socket; false when the connection has closed.
    bool HandleReport(int socket);
    void DeliverToOpenedUpTo(uint64_t lastNumber, std::span<const uint8_t> input);

    Responder responder_;
    std::string path_;
    TraceLog* trace_;
    UniqueFd listener_;
    std::vector<Connection> connections_;
    uint64_t accepted_ = 0;
    WakeEvent wake_;
    std::jthread thread_;  // last: stops before the sockets close
};

}  // namespace zendrik::sim
