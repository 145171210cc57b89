#pragma once

#include <cstdint>
#include <string>

namespace zendrik::cli {

// A library result code in the library's words, followed by the code itself: "no USB reader was
// found (-136)".
std::string ResultWords(int32_t code);

// The same for the handshake that opens every session, where a reader that refused is "no reader
// answered (-130)"; a link without an answer gives its own failure ("no reply arrived over UDP (-145)").
std::string HandshakeWords(int32_t code);

// Whether the code says the link itself could not be opened: nothing was sent to a reader yet.
bool IsLinkOpenFailure(int32_t code);

// Why a reader could not be opened: the link itself ("cannot open the link: the serial port could
// not be opened (-32)"), or the reader behind it ("no reader answered (-130)").
std::string OpenFailureWords(int32_t code);

// Why a USB reader that is plugged in cannot be used: its device node could not be opened (`error`
// is the errno value), usually for want of the udev rule that grants access, which it names.
std::string UsbOpenFailureWords(const std::string& node, int error);

}  // namespace zendrik::cli
