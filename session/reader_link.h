#pragma once

#include <cstdint>
#include <memory>

#include "link/link.h"
#include "session/address.h"

namespace zendrik::session {

// A link of its own for the reader at `address`, with the production transports: only the named
// HID device for usb:PATH, the first reader found (ZENDRIK_HID_SOCKET honoured) for usb, termios
// serial ports, POSIX UDP sockets. Its USB exchanges wait for replies until they arrive.
std::unique_ptr<Link> MakeReaderLink(const ReaderAddress& address, Clock& clock);

// Opens the transport the address names on `link`: locates the USB reader
// (ZENDRIK_ERR_NO_USB_READER when there is none), opens the serial device afresh (OpenCom's
// results), or sets the UDP endpoints. The handshake is the caller's.
int32_t OpenTransport(Link& link, const ReaderAddress& address);

}  // namespace zendrik::session
