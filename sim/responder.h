#pragma once

#include <functional>
#include <optional>
#include <span>

#include "sim/reply.h"

namespace zendrik::sim {

// What a transport server asks for each request it receives: the reply, or nothing for silence.
// Reader::Answer and NetworkModule::Answer fit it.
using Responder = std::function<std::optional<Reply>(std::span<const uint8_t> request)>;

}  // namespace zendrik::sim
