#pragma once

#include <memory>

#include "link/clock.h"
#include "link/hid_backend.h"

namespace zendrik {

// The virtual HID sockets when ZENDRIK_HID_SOCKET is set (read at each enumeration), hidapi
// otherwise. `clock` bounds the connection to a virtual device; it must outlive the backend.
std::unique_ptr<HidBackend> MakeDefaultHidBackend(Clock& clock);
// The same on the system clock.
std::unique_ptr<HidBackend> MakeDefaultHidBackend();

}  // namespace zendrik
