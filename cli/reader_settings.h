#pragma once

#include <zendrik_session.hpp>

#include <cstdint>

#include "rules/reader_settings.h"

namespace zendrik::cli {

// Reads every setting, in the order the tool reads them after connecting, into the rules' record;
// the library's result code.
int32_t ReadSettings(zendrik::Reader& reader, rules::ReaderSettings& settings);

// The reader kind its handshake reported (0, 1 or 2); the library's result code.
int32_t ReadKind(zendrik::Reader& reader, uint8_t& kind);

}  // namespace zendrik::cli
