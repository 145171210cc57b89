#pragma once

#include <memory>
#include <string>

#include "link/hid_backend.h"

namespace zendrik::session {

// HID devices restricted to the one at `path`: a virtual HID socket when the path is a Unix
// socket, otherwise a hidraw node reached through hidapi (symbolic links, such as a udev rule's,
// are followed). What the path is gets decided at every enumeration, so a reader plugged in after
// the session opened is found.
std::unique_ptr<HidBackend> MakeSingleDeviceHidBackend(std::string path);

}  // namespace zendrik::session
