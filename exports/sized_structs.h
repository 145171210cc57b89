#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zendrik/zendrik_session.h"

// The structs of zendrik_session.h grow at their ends. A caller built against an older header
// passes a smaller one: the library takes any size from the first release's on, reads and writes
// only the part both know, and zeroes what it writes beyond its own values.
namespace zendrik::exports {

// Where each struct ended in its first release: the least size the library takes.
inline constexpr std::size_t kOpenOptionsFirstSize = offsetof(zendrik_open_options, flags) + sizeof(uint32_t);
inline constexpr std::size_t kReaderInfoFirstSize =
    offsetof(zendrik_reader_info, serial) + ZENDRIK_TEXT_CAPACITY;
inline constexpr std::size_t kSettingsFirstSize = offsetof(zendrik_settings, step) + sizeof(int32_t);
inline constexpr std::size_t kInventoryOptionsFirstSize =
    offsetof(zendrik_inventory_options, queue_capacity) + sizeof(uint32_t);
inline constexpr std::size_t kRequestFirstSize = offsetof(zendrik_request, inventory) + sizeof(void*);
inline constexpr std::size_t kEventFirstSize = ZENDRIK_EVENT_FIRST_SIZE;

// A caller's struct, as this library knows it: the part the caller's size covers over `defaults`
// (what its _init gives), the size then this library's own.
template <typename T>
T ReadSized(const T& given, T defaults) {
    std::memcpy(&defaults, &given, std::min<std::size_t>(given.size, sizeof(T)));
    defaults.size = sizeof(T);
    return defaults;
}

// Writes `value` into the caller's struct as far as its size reaches, keeping that size.
template <typename T>
void WriteSized(T value, T& out) {
    value.size = out.size;
    std::memcpy(&out, &value, std::min<std::size_t>(out.size, sizeof(T)));
}

}  // namespace zendrik::exports
