#pragma once

#include <memory>

#include "link/udp_transport.h"

namespace zendrik {

// UDP transactions on POSIX datagram sockets.
std::unique_ptr<UdpTransport> MakePosixUdpTransport();

}  // namespace zendrik
