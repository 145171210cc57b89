#pragma once

#include <memory>

#include "link/hid_backend.h"

namespace zendrik {

// The virtual HID sockets when ZENDRIK_HID_SOCKET is set (read at each enumeration), hidapi otherwise.
std::unique_ptr<HidBackend> MakeDefaultHidBackend();

}  // namespace zendrik
