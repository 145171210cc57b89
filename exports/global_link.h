#pragma once

#include <mutex>

#include "link/log.h"
#include "link/switching_link.h"

namespace zendrik {

// The library's one module-wide link, made on first use with the production transports: termios
// serial ports, hidapi (or the virtual HID sockets named by ZENDRIK_HID_SOCKET), POSIX UDP sockets
// and the system clock.
SwitchingLink& GlobalLink();

// Serialises every export that touches the link or the network: the link state, the open USB
// device and the UDP endpoints belong to one call at a time, so that a thread never takes the reply
// to another thread's request.
std::mutex& GlobalLinkMutex();

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

// Runs an exported function's body on the library's one link, holding GlobalLinkMutex for the
// whole call (waits included), and Guarded. What it logs reaches the log handler once the mutex
// has been released.
template <typename Result, typename Body>
Result OnGlobalLink(Result failure, Body&& body) noexcept {
    return Guarded<Result>(failure, [&] {
        const log::HeldBack heldBack;
        const std::lock_guard lock(GlobalLinkMutex());
        return body(GlobalLink());
    });
}

}  // namespace zendrik
