#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/hid_socket_server.h"
#include "sim/pty_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "sim/udp_server.h"

namespace zendrik::e2e {

// The reader's command codes and status the tests send or look for on the wire.
inline constexpr uint8_t kHandshake = 0xDC;
inline constexpr uint8_t kGetWorkMode = 0xEB;
inline constexpr uint8_t kStatusNoTag = 201;

// The three ways the library reaches a reader.
enum class LinkKind { kSerial, kUsb, kUdp };

const char* LinkName(LinkKind link);

// The address every call of the configuration tool carries; the reader answers it whatever its own.
inline constexpr uint8_t kAnyReader = 0xFF;

// The serial port index the suite maps onto the virtual reader's pseudo-terminal: COM20, the last
// one, so that a real port on COM1..COM19 is never touched.
inline constexpr int32_t kPtyPortIndex = 19;
inline constexpr const char* kPtyPortVariable = "ZENDRIK_COM20";
inline constexpr const char* kHidSocketVariable = "ZENDRIK_HID_SOCKET";
inline constexpr int32_t kSerialBaud = 115200;
inline constexpr const char* kLoopback = "127.0.0.1";
// Host port 0: every UDP exchange binds a fresh ephemeral port, so suites never collide.
inline constexpr int32_t kEphemeralPort = 0;

// A virtual reader served in-process over one link. Connect() makes it the library's one link
// through the exported functions, as a program would.
class ServedReader {
  public:
    explicit ServedReader(LinkKind link, uint8_t kind = sim::kKindStandard);
    ~ServedReader();
    ServedReader(const ServedReader&) = delete;
    ServedReader& operator=(const ServedReader&) = delete;

    // OpenCom on COM20 (pty), OpenCom(100) (HID socket) or Net_Connect (UDP); the export's result.
    int32_t Connect();
    // Stops answering altogether, as an unplugged reader does.
    void Unplug();

    LinkKind link() const { return link_; }
    sim::Reader& reader() { return reader_; }
    // The serial device path (pty), the HID socket path, or "127.0.0.1:port".
    std::string Where() const;
    uint16_t udp_port() const;

  private:
    LinkKind link_;
    sim::Reader reader_;
    sim::TempDir directory_;
    std::unique_ptr<sim::PtyServer> pty_;
    std::unique_ptr<sim::HidSocketServer> hid_;
    std::unique_ptr<sim::UdpServer> udp_;
};

}  // namespace zendrik::e2e
