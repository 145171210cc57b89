#pragma once

#include <cstdint>
#include <optional>

namespace zendrik {

// Sets and reads a terminal's line speed in bits per second through the kernel's termios2
// interface. <termios.h> only knows the Bnnn constants, and two of the speeds the reader accepts
// (14400 and 28800) have none. These live apart because <asm/termbits.h> and <termios.h> cannot be
// included in the same file.
bool SetLineSpeedBitsPerSecond(int fd, uint32_t bitsPerSecond);
std::optional<uint32_t> LineSpeedBitsPerSecond(int fd);

}  // namespace zendrik
