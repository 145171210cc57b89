#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The reader's identity as text: its serial number and its version.
namespace zendrik::rules {

// Get_Version and Get_SerNum write up to this many bytes.
inline constexpr std::size_t kIdentityBytes = 50;
// A serial number is shown by its first twelve bytes.
inline constexpr std::size_t kSerialNumberShownBytes = 12;
// What the configuration tool puts before the serial number's hex pairs.
inline constexpr std::string_view kSerialNumberPrefix = "SN:";

// The first twelve serial number bytes (or as many as there are) as lower-case hex pairs: the
// reader's id.
std::string SerialNumberHex(std::span<const uint8_t> serialNumber);

// The serial number as the configuration tool shows it: "SN:" and SerialNumberHex.
std::string SerialNumberText(std::span<const uint8_t> serialNumber);

// The version bytes up to the first zero byte; a byte that is not printable ASCII as \xNN.
std::string VersionText(std::span<const uint8_t> version);

}  // namespace zendrik::rules
