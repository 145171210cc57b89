#pragma once

#include <cstdint>

namespace zendrik::session {

// Words for a result code of zendrik.h or zendrik_session.h, without the number: "no USB reader was
// found". Static text, never null; "unknown result" for a code neither header defines.
const char* ResultText(int32_t code);

}  // namespace zendrik::session
