#include "link/frame.h"

#include "link/crc16.h"

namespace zendrik {

std::vector<uint8_t> BuildStandardFrame(uint8_t address, uint8_t command, std::span<const uint8_t> data) {
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + kFrameOverhead);
    frame.push_back(kStartByte);
    frame.push_back(address);
    frame.push_back(command);
    frame.push_back(static_cast<uint8_t>(data.size() & 0xFFu));
    frame.push_back(static_cast<uint8_t>((data.size() >> 8) & 0xFFu));
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = Crc16(std::span(frame).subspan(kOffsetAddress));
    frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(kEndByte);
    return frame;
}

}  // namespace zendrik
