#pragma once

#include "link/link.h"

namespace zendrik {

// The library's one module-wide link, made on first use with the production transports: termios
// serial ports, hidapi (or the virtual HID sockets named by ZENDRIK_HID_SOCKET), POSIX UDP sockets
// and the system clock.
Link& GlobalLink();

// Runs an exported function's body so that no C++ exception crosses the C boundary: an exception
// (only memory exhaustion can raise one) becomes `failure`.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace zendrik
