#pragma once

#include <cstdint>
#include <string>

#include "link/clock.h"

namespace zendrik {

// Serial port indexes 0..19 stand for COM1..COM20; on Linux they map to these devices:
//   COM1-COM4 /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7, COM13-COM16 /dev/ttyACM0-3, COM17-COM20 /dev/ttyAMA0-3.
// ZENDRIK_COMn (n = 1..20) replaces the device of COMn. Any index outside 0..19 means COM1.
inline constexpr int kComPortCount = 20;

int NormaliseComIndex(int32_t index);
std::string ComDevicePath(int32_t index);

// Line speeds the port accepts; anything else opens the line at kFallbackBaud.
inline constexpr int32_t kFallbackBaud = 9600;
int32_t EffectiveBaud(int32_t requested);

// Per-byte read time-out, chosen from the requested speed (before the fallback above).
Milliseconds PerByteReadTimeout(int32_t requested);

}  // namespace zendrik
