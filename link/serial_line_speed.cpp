#include "link/serial_line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zendrik {

bool SetLineSpeedBitsPerSecond(int fd, uint32_t bitsPerSecond) {
    termios2 line{};
    if (::ioctl(fd, TCGETS2, &line) != 0) {
        return false;
    }
    // BOTHER: the speed is the number in c_ispeed/c_ospeed, not a Bnnn code.
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = bitsPerSecond;
    line.c_ospeed = bitsPerSecond;
    return ::ioctl(fd, TCSETS2, &line) == 0;
}

std::optional<uint32_t> LineSpeedBitsPerSecond(int fd) {
    termios2 line{};
    if (::ioctl(fd, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    return line.c_ospeed;
}

}  // namespace zendrik
