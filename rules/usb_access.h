#pragma once

#include <string>
#include <string_view>

// How a program may use the reader's USB device: the udev rule 70-zendrik.rules gives the user at
// the seat and the group plugdev access to its hidraw node. Without it the node belongs to root.
namespace zendrik::rules {

// Why a USB reader that the system lists cannot be used: its device `node` could not be opened
// (`error` is the errno value), and what grants access: the udev rule, where it comes from, how to
// install it from the source tree, and the group plugdev.
std::string UsbAccessWords(std::string_view node, int error);

}  // namespace zendrik::rules
