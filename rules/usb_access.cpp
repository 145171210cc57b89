#include "rules/usb_access.h"

#include <cstring>

namespace zendrik::rules {

std::string UsbAccessWords(std::string_view node, int error) {
    return "the reader is plugged in but its device " + std::string(node) + " cannot be opened (" +
           std::strerror(error) +
           "). The udev rule 70-zendrik.rules gives the user at the seat and the group plugdev access to it: "
           "the zendrik package installs it in /usr/lib/udev/rules.d; from the source tree run "
           "'sudo cp packaging/70-zendrik.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
           "sudo udevadm trigger', then plug the reader in again. Without a seat (over ssh, a service) the "
           "user must be in plugdev: 'sudo usermod -aG plugdev $USER', then log in again";
}

}  // namespace zendrik::rules
