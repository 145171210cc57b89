#include "commands/short_frame.h"

namespace zendrik {

uint8_t ShortFrameChecksum(std::span<const uint8_t> bytes) {
    const std::size_t counted = bytes.size() & 0xFFu;
    uint8_t sum = 0;
    for (const uint8_t byte : bytes.first(counted)) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    return static_cast<uint8_t>(-sum);
}

std::vector<uint8_t> BuildShortFrame(uint8_t command, std::span<const uint8_t> data) {
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + kShortFrameCountedOverhead + kShortFrameHeader);
    frame.push_back(kShortFrameStart);
    frame.push_back(static_cast<uint8_t>(data.size() + kShortFrameCountedOverhead));
    frame.push_back(command);
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(ShortFrameChecksum(frame));
    return frame;
}

}  // namespace zendrik
