#include "exports/global_link.h"

#include "link/hid_backend_default.h"
#include "link/serial_port_posix.h"
#include "link/udp_transport_posix.h"

namespace zendrik {

SwitchingLink& GlobalLink() {
    static SystemClock clock;
    static SwitchingLink link(clock, MakeDefaultHidBackend(clock), MakePosixSerialOpener(clock),
                              MakePosixUdpTransport());
    return link;
}

std::mutex& GlobalLinkMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace zendrik
