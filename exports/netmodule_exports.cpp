// Exported network module functions: module search and the settings record. They always talk from
// the host's fixed address to the broadcast address and leave those addresses in the link state.
#include <algorithm>
#include <vector>

#include "exports/global_link.h"
#include "netmodule/module_search.h"
#include "netmodule/module_settings.h"
#include "zendrik/zendrik.h"

using zendrik::ModuleNetwork;
using zendrik::ModuleRecord;
using zendrik::OnGlobalLink;

namespace {

// Records are packed one after another: the 6-byte id, then the 4-byte address.
void PackRecords(const std::vector<ModuleRecord>& found, uint8_t* records) {
    for (const ModuleRecord& record : found) {
        records = std::copy(record.id.begin(), record.id.end(), records);
        records = std::copy(record.address.begin(), record.address.end(), records);
    }
}

}  // namespace

extern "C" {

ZENDRIK_API int16_t FindDevice(uint8_t* records, int32_t* count) {
    return OnGlobalLink<int16_t>(ZENDRIK_ERR_NOT_REACHED, [&](zendrik::SwitchingLink& link) -> int16_t {
        if (records == nullptr || count == nullptr) {
            return ZENDRIK_ERR_NOT_REACHED;
        }
        *count = 0;
        std::vector<ModuleRecord> found;
        const int32_t result = zendrik::SearchModules(link, ModuleNetwork{}, found);
        if (result == ZENDRIK_OK) {
            PackRecords(found, records);
            *count = static_cast<int32_t>(found.size());
        }
        return static_cast<int16_t>(result);
    });
}

ZENDRIK_API int16_t ReadConfig(const uint8_t* moduleId, uint8_t* reply) {
    return OnGlobalLink<int16_t>(ZENDRIK_ERR_UDP_NO_REPLY, [&](zendrik::SwitchingLink& link) -> int16_t {
        if (moduleId == nullptr || reply == nullptr) {
            return ZENDRIK_ERR_UDP_NO_REPLY;
        }
        return static_cast<int16_t>(zendrik::ReadModuleSettings(
            link, ModuleNetwork{},
            std::span<const uint8_t, zendrik::kModuleIdSize>(moduleId, zendrik::kModuleIdSize),
            std::span<uint8_t, zendrik::kModuleSettingsReplySize>(reply, zendrik::kModuleSettingsReplySize)));
    });
}

ZENDRIK_API int16_t WriteConfig(const uint8_t* settings, uint8_t* reply) {
    return OnGlobalLink<int16_t>(ZENDRIK_ERR_UDP_NO_REPLY, [&](zendrik::SwitchingLink& link) -> int16_t {
        if (settings == nullptr || reply == nullptr) {
            return ZENDRIK_ERR_UDP_NO_REPLY;
        }
        return static_cast<int16_t>(zendrik::WriteModuleSettings(
            link, ModuleNetwork{},
            std::span<const uint8_t, zendrik::kModuleSettingsSize>(settings, zendrik::kModuleSettingsSize),
            std::span<uint8_t, zendrik::kModuleSettingsReplySize>(reply, zendrik::kModuleSettingsReplySize)));
    });
}

}  // extern "C"
