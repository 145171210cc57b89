#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

inline constexpr std::size_t kPasswordLength = 4;

// The check password travels as the enable flag followed by the four password bytes in the order
// they lie in the caller's memory, both ways, so a password written and read back is unchanged.
int32_t SetPassword(Link& link, uint8_t address, uint8_t enable,
                    std::span<const uint8_t, kPasswordLength> password);
int32_t GetPassword(Link& link, uint8_t address, uint8_t& enable,
                    std::span<uint8_t, kPasswordLength> password);

}  // namespace zendrik
