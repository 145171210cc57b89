#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zendrik::daemon {

// The size of a QoS 1 PUBLISH packet as it goes on the wire, which is what MQTT 5's Maximum
// Packet Size and Mosquitto's max_packet_size bound: the fixed header (one byte and the
// remaining length as a variable byte integer), the topic with its two-byte length, the packet
// id, under MQTT 5 the properties with their length, and the payload. (Mosquitto's
// message_size_limit counts the payload alone, so a packet within a limit of that number always
// has a payload within it too.)
std::size_t PublishPacketBytes(std::size_t topicBytes, std::size_t payloadBytes, bool mqtt5,
                               std::size_t propertyBytes = 0);

// The largest packet the daemon sends: the smaller of what the configuration says and what the
// broker said in its CONNACK; nothing when neither says.
std::optional<uint32_t> PacketLimit(std::optional<uint32_t> configured, std::optional<uint32_t> broker);

// "larger than the 300 bytes a message may have": why a message is not sent.
std::string TooLargeWords(uint32_t limit);

}  // namespace zendrik::daemon
