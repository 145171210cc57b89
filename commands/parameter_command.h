#pragma once

#include <cstdint>
#include <span>

#include "commands/parameter_table.h"
#include "link/link.h"

namespace zendrik {

// Runs one parameter command of the table with the caller's request data (command.dataLength
// bytes) and output (command.outputLength bytes), by the rules of its family, including its
// settle wait and the wait after success.
int32_t RunParameterCommand(Link& link, const ParameterCommand& command, uint8_t address,
                            std::span<const uint8_t> data, std::span<uint8_t> output);

}  // namespace zendrik
