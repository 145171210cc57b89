#pragma once

#include <cstdint>
#include <string>

namespace zendrik::cli {

// The same for the handshake that opens every session, where a reader that refused is "no reader
// answered (-130)"; a link without an answer gives its own failure ("no reply arrived over UDP (-145)").
std::string HandshakeWords(int32_t code);

// Whether the code says the link itself could not be opened: nothing was sent to a reader yet.
bool IsLinkOpenFailure(int32_t code);

// Why a reader could not be opened: the link itself ("cannot open the link: the serial port could
// not be opened (-32)"), or the reader behind it ("no reader answered (-130)").
std::string OpenFailureWords(int32_t code);

}  // namespace zendrik::cli
