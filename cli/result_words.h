#pragma once

#include <cstdint>
#include <string>

namespace zendrik::cli {

// A library result code in words, followed by the code itself: "no USB reader was found (-136)".
std::string ResultWords(int32_t code);

// The same for the handshake that opens every session, where every failure of the link or of the
// reader comes back as one code: "no reader answered (-130)".
std::string HandshakeWords(int32_t code);

}  // namespace zendrik::cli
