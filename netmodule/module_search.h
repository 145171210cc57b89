#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "netmodule/module_transaction.h"

namespace zendrik {

inline constexpr std::size_t kModuleIdSize = 6;
inline constexpr std::size_t kModuleAddressSize = 4;
// A search is a series of at most this many probes; callers give room for as many records.
inline constexpr std::size_t kMaxSearchProbes = 50;

// One module found: its id, and the IPv4 address its answer came from, first octet first.
struct ModuleRecord {
    std::array<uint8_t, kModuleIdSize> id{};
    std::array<uint8_t, kModuleAddressSize> address{};

    bool operator==(const ModuleRecord&) const = default;
};

// Sends search probes one after another until one goes unanswered or kMaxSearchProbes were
// answered, and lists each module id once, in the order it first answered. Every probe keeps
// only the first answer, so a module that never answers first is never listed.
// result::kOk with at least one record, or result::kNotReached with none.
int32_t SearchModules(SwitchingLink& link, const ModuleNetwork& network, std::vector<ModuleRecord>& found);

}  // namespace zendrik
