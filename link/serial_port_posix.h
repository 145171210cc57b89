#pragma once

#include <memory>

#include "link/serial_port.h"

namespace zendrik {

// Serial ports on termios, opened exclusively (flock and TIOCEXCL).
std::unique_ptr<SerialPortOpener> MakePosixSerialOpener(Clock& clock);

}  // namespace zendrik
