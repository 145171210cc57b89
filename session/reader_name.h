#pragma once

#include <string_view>

namespace zendrik::session {

// Whether a caller's reader name can serve as a reader id: 1 to 63 bytes of UTF-8 without control
// characters, so that it fits the events' field whole and every JSON line stays valid.
bool IsValidReaderName(std::string_view name);

}  // namespace zendrik::session
