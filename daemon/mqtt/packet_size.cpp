#include "daemon/mqtt/packet_size.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

constexpr std::size_t kFixedHeaderTypeBytes = 1;
constexpr std::size_t kLengthPrefixBytes = 2;  // before the topic
constexpr std::size_t kPacketIdBytes = 2;      // QoS 1 and 2 only
// A variable byte integer carries seven bits in each byte.
constexpr std::size_t kVarintBitsPerByte = 7;

std::size_t VarintBytes(std::size_t value) {
    std::size_t bytes = 1;
    while (value >>= kVarintBitsPerByte) {
        ++bytes;
    }
    return bytes;
}

}  // namespace

std::size_t PublishPacketBytes(std::size_t topicBytes, std::size_t payloadBytes, bool mqtt5,
                               std::size_t propertyBytes) {
    std::size_t remaining = kLengthPrefixBytes + topicBytes + kPacketIdBytes + payloadBytes;
    if (mqtt5) {
        remaining += VarintBytes(propertyBytes) + propertyBytes;
    }
    return kFixedHeaderTypeBytes + VarintBytes(remaining) + remaining;
}

std::optional<uint32_t> PacketLimit(std::optional<uint32_t> configured, std::optional<uint32_t> broker) {
    if (configured && broker) {
        return std::min(*configured, *broker);
    }
    return configured ? configured : broker;
}

std::string TooLargeWords(uint32_t limit) {
    return "larger than the " + std::to_string(limit) + " bytes a message may have";
}

}  // namespace zendrik::daemon
