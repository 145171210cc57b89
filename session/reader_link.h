#pragma once

#include <memory>

#include "link/link.h"
#include "session/address.h"

namespace zendrik::session {

// A link of its own for the reader at `address`, over the one transport the address names, with
// the production parts: only the named HID device for usb:PATH, the first reader found
// (ZENDRIK_HID_SOCKET honoured) for usb, a termios serial port, POSIX UDP sockets. Its USB
// exchanges wait for replies until they arrive. Its transport's Reopen opens what the address
// names; the handshake is the caller's.
std::unique_ptr<Link> MakeReaderLink(const ReaderAddress& address, Clock& clock);

}  // namespace zendrik::session
