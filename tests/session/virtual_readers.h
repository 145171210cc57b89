#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/hid_socket_server.h"
#include "sim/pty_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "sim/udp_server.h"

namespace zendrik::testing {

enum class Transport { kUsb, kSerial, kUdp };

// A virtual reader served in-process on one transport (loopback only), and its session address.
class VirtualReader {
  public:
    VirtualReader(Transport transport, uint8_t kind, uint8_t serialLastByte);
    ~VirtualReader();
    VirtualReader(const VirtualReader&) = delete;
    VirtualReader& operator=(const VirtualReader&) = delete;

    // Stops serving, as an unplugged reader; Plug() serves again on the same socket path (USB).
    void Unplug();
    void Plug();

    sim::Reader& reader() { return reader_; }
    const std::string& address() const { return address_; }
    // The id a session gives the reader: its serial number as 24 hex digits.
    std::string id() const;
    std::vector<std::vector<uint8_t>> tags() const { return reader_.tags(); }

  private:
    Transport transport_;
    sim::Reader reader_;
    sim::TempDir directory_;
    std::string hidPath_;
    std::string address_;
    std::unique_ptr<sim::HidSocketServer> hid_;
    std::unique_ptr<sim::PtyServer> pty_;
    std::unique_ptr<sim::UdpServer> udp_;
};

}  // namespace zendrik::testing
