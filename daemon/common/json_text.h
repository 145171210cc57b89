#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zendrik::daemon {

// Compact JSON text; bytes that are not UTF-8 (a reader's version text may hold any) become
// U+FFFD instead of failing the whole message.
inline std::string JsonText(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace zendrik::daemon
