#include "netmodule/module_settings.h"

#include <vector>

#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// The settings reply is the answer's data, which starts after the frame header.
constexpr std::size_t kAnswerOffsetSettings = kOffsetData;

int32_t SettingsTransaction(SwitchingLink& link, const ModuleNetwork& network, uint8_t command,
                            std::span<const uint8_t> data,
                            std::span<uint8_t, kModuleSettingsReplySize> reply) {
    const std::vector<uint8_t> request = BuildStandardFrame(kBroadcastAddress, command, data);
    Datagram answer;
    const int32_t result = ModuleTransaction(link, network, request, answer);
    if (result != result::kOk) {
        return result;
    }
    CopyAnswerBytes(answer, kAnswerOffsetSettings, reply);
    return result::kOk;
}

}  // namespace

int32_t ReadModuleSettings(SwitchingLink& link, const ModuleNetwork& network,
                           std::span<const uint8_t, kModuleIdSize> moduleId,
                           std::span<uint8_t, kModuleSettingsReplySize> reply) {
    return SettingsTransaction(link, network, command::kModuleReadSettings, moduleId, reply);
}

int32_t WriteModuleSettings(SwitchingLink& link, const ModuleNetwork& network,
                            std::span<const uint8_t, kModuleSettingsSize> settings,
                            std::span<uint8_t, kModuleSettingsReplySize> reply) {
    return SettingsTransaction(link, network, command::kModuleWriteSettings, settings, reply);
}

}  // namespace zendrik
