#include "link/serial_port_posix.h"

#include "exports/zendrik.h"

namespace zendrik {
namespace {
// Placeholder until the termios implementation lands.
class NoSerialOpener final : public SerialPortOpener {
public:
    SerialOpenResult Open(const std::string&, int32_t) override { return {ZENDRIK_ERR_PORT_OPEN, nullptr}; }
};
}  // namespace

std::unique_ptr<SerialPortOpener> MakePosixSerialOpener(Clock&) { return std::make_unique<NoSerialOpener>(); }

}  // namespace zendrik
