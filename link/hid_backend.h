#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"

namespace zendrik {

// The 64 bytes of a HID report that follow the report id: one frame travels in one chunk.
inline constexpr std::size_t kHidChunkSize = 64;
using HidChunk = std::array<uint8_t, kHidChunkSize>;

// The reader's USB HID interface.
inline constexpr uint16_t kReaderVendorId = 0x0416;
inline constexpr uint16_t kReaderProductId = 0xB00B;

struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// One opened HID device.
class HidDevice {
  public:
    virtual ~HidDevice() = default;

    // Report lengths as the device's capabilities give them, including the report id byte.
    virtual std::size_t InputReportLength() const = 0;
    virtual std::size_t OutputReportLength() const = 0;

    // Writes one whole output report (report id first). False when the write fails.
    virtual bool WriteReport(std::span<const uint8_t> report) = 0;

    // Takes one input report that has already arrived, without waiting, and hands over the 64 bytes
    // after its report id. False (and `chunk` untouched) when none has arrived.
    virtual bool ReadChunk(HidChunk& chunk) = 0;

    // As ReadChunk, but waits up to `timeout` for a report to arrive, sleeping on the device rather
    // than polling it, and returns as soon as one has. False when none came in time.
    virtual bool ReadChunkWithin(HidChunk& chunk, Milliseconds timeout) = 0;
};

// Enumerates and opens HID devices: hidapi (hidraw), the virtual HID sockets, or an in-process fake.
class HidBackend {
  public:
    virtual ~HidBackend() = default;
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;
    // Opens the device afresh, so that no input report from before the call is pending. Nothing
    // when it cannot be opened, with errno saying why (EACCES: no permission on the node).
    virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) = 0;
};

}  // namespace zendrik
