#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The codes the reader reports and takes: reader kinds, work modes, Wiegand formats and the
// layout of the Wiegand output settings record.
namespace zendrik::rules {

// The reader kinds that Handshake reports. Kind 2 plans its frequencies by numbered channels and
// frames its tag reads without antenna and signal-strength bytes; kinds 0 and 1 differ in their
// output power range.
inline constexpr uint8_t kReaderKind0 = 0;
inline constexpr uint8_t kReaderKind1 = 1;
inline constexpr uint8_t kChannelReaderKind = 2;

inline constexpr uint8_t kWorkModeAlwaysRead = 0;
inline constexpr uint8_t kWorkModeTrigger = 1;

// The Wiegand formats are coded as their bit count written in hexadecimal digits.
inline constexpr uint8_t kWiegand26Code = 0x26;
inline constexpr uint8_t kWiegand34Code = 0x34;
// The EPC bytes a Wiegand number carries: 24 bits of a 26-bit frame, 32 bits of a 34-bit one.
inline constexpr uint8_t kWiegand26Bytes = 3;
inline constexpr uint8_t kWiegand34Bytes = 4;

// The bytes of a Wiegand number for a format code; 0 for a code that is no Wiegand format.
constexpr uint8_t WiegandBytes(uint8_t formatCode) {
    switch (formatCode) {
        case kWiegand26Code:
            return kWiegand26Bytes;
        case kWiegand34Code:
            return kWiegand34Bytes;
        default:
            return 0;
    }
}

// The Wiegand output settings record: which EPC bytes the reader puts out, and in which order.
inline constexpr std::size_t kOutputEnable = 0;
inline constexpr std::size_t kOutputStart = 1;
inline constexpr std::size_t kOutputLength = 2;
inline constexpr std::size_t kOutputInverted = 3;
inline constexpr std::size_t kOutputBytesSize = 4;
using OutputBytes = std::array<uint8_t, kOutputBytesSize>;
// Every write of the record switches the output on.
inline constexpr uint8_t kOutputEnabled = 1;

inline constexpr std::size_t kPasswordBytes = 4;
using PasswordBytes = std::array<uint8_t, kPasswordBytes>;

// The address every command may be sent to: every reader answers it whatever address it has
// been given.
inline constexpr uint8_t kAnyReaderAddress = 255;

}  // namespace zendrik::rules
