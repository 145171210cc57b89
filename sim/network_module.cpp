#include "sim/network_module.h"

#include <algorithm>

#include "link/frame.h"
#include "rules/wire_bytes.h"

namespace zendrik::sim {
namespace {

constexpr std::size_t kIdOffset = 0;
constexpr std::size_t kAddressOffset = kIdOffset + kModuleIdSize;
constexpr std::size_t kMaskOffset = kAddressOffset + kModuleAddressSize;
constexpr std::size_t kGatewayOffset = kMaskOffset + kModuleAddressSize;
using rules::kBitsPerByte;
using rules::kByteMask;
constexpr std::size_t kReservedBytes = 2;

// The module's own defaults: an id that spells "ZDRK" and a serial, the reader address the
// library starts with, and the UDP port the reader listens on.
constexpr ModuleId kDefaultId{0x5A, 0x44, 0x52, 0x4B, 0x00, 0x01};
constexpr Ipv4Octets kDefaultAddress{192, 168, 1, 250};
constexpr Ipv4Octets kDefaultMask{255, 255, 255, 0};
constexpr Ipv4Octets kDefaultGateway{192, 168, 1, 1};
constexpr uint16_t kDefaultPort = 2000;

template <std::size_t Size>
std::array<uint8_t, Size> Field(std::span<const uint8_t> bytes, std::size_t offset) {
    std::array<uint8_t, Size> field{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), Size, field.begin());
    return field;
}

}  // namespace

ModuleSettings DefaultModuleSettings() {
    return {kDefaultId, kDefaultAddress, kDefaultMask, kDefaultGateway, kDefaultPort};
}

std::vector<uint8_t> EncodeModuleSettings(const ModuleSettings& settings) {
    std::vector<uint8_t> reply(settings.id.begin(), settings.id.end());
    reply.insert(reply.end(), settings.address.begin(), settings.address.end());
    reply.insert(reply.end(), settings.mask.begin(), settings.mask.end());
    reply.insert(reply.end(), settings.gateway.begin(), settings.gateway.end());
    reply.push_back(static_cast<uint8_t>((settings.port >> kBitsPerByte) & kByteMask));
    reply.push_back(static_cast<uint8_t>(settings.port & kByteMask));
    reply.insert(reply.end(), kReservedBytes, 0);
    return reply;
}

NetworkModule::NetworkModule(const ModuleSettings& settings) : settings_(settings) {}

std::optional<Reply> NetworkModule::Answer(std::span<const uint8_t> bytes) {
    const std::optional<Request> request = ParseRequest(bytes);
    if (!request || request->family != FrameFamily::kStandard) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    if (log_.size() >= kRequestLogCapacity) {
        log_.pop_front();
    }
    log_.push_back(*request);
    std::optional<std::vector<uint8_t>> frame = Carry(*request);
    if (!frame) {
        return std::nullopt;
    }
    if (const std::optional<Fault> fault = faults_.Take(*request)) {
        return ApplyFault(*fault, std::move(*frame));
    }
    return Reply{std::move(*frame)};
}

std::optional<std::vector<uint8_t>> NetworkModule::Carry(const Request& request) {
    const std::span<const uint8_t> data = request.data;
    switch (request.command) {
        case command::kModuleSearch:
            break;
        case command::kModuleReadSettings:
            if (data.size() != kModuleIdSize || Field<kModuleIdSize>(data, kIdOffset) != settings_.id) {
                return std::nullopt;
            }
            break;
        case command::kModuleWriteSettings:
            if (data.size() != kModuleSettingsSize || Field<kModuleIdSize>(data, kIdOffset) != settings_.id) {
                return std::nullopt;
            }
            settings_.address = Field<kModuleAddressSize>(data, kAddressOffset);
            settings_.mask = Field<kModuleAddressSize>(data, kMaskOffset);
            settings_.gateway = Field<kModuleAddressSize>(data, kGatewayOffset);
            break;
        default:
            return std::nullopt;
    }
    return BuildReply(kBroadcastAddress, kStatusOk, EncodeModuleSettings(settings_));
}

ModuleSettings NetworkModule::settings() const {
    const std::lock_guard lock(mutex_);
    return settings_;
}

void NetworkModule::SetSettings(const ModuleSettings& settings) {
    const std::lock_guard lock(mutex_);
    settings_ = settings;
}

void NetworkModule::AddFault(const FaultRule& rule) {
    const std::lock_guard lock(mutex_);
    faults_.Add(rule);
}

void NetworkModule::ClearFaults() {
    const std::lock_guard lock(mutex_);
    faults_.Clear();
}

std::vector<Request> NetworkModule::requests() const {
    const std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

}  // namespace zendrik::sim
