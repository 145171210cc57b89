#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/clock.h"
#include "link/hid_backend.h"

namespace zendrik {

// Virtual HID devices, served by the virtual reader and by tests: each Unix socket (SOCK_SEQPACKET)
// is one device. A connection is an open device; the device greets it with one hello message, then
// every message is one report: output reports of exactly the output report length from us, input
// reports of the input report length from the device, report id first in both.

// The environment variable naming the device sockets, separated by ':', in enumeration order.
inline constexpr const char* kHidSocketVariable = "ZENDRIK_HID_SOCKET";
inline constexpr char kHidSocketSeparator = ':';

// The hello: vendor id, product id, input and output report length (with the report id byte), each
// 16-bit little-endian.
inline constexpr std::size_t kHidHelloSize = 8;
using HidHelloBytes = std::array<uint8_t, kHidHelloSize>;
// Report lengths beyond this are taken for a broken device rather than buffered.
inline constexpr std::size_t kMaxVirtualReportLength = 1024;

struct HidHello {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t inputReportLength = 0;
    uint16_t outputReportLength = 0;

    bool operator==(const HidHello&) const = default;
};

HidHelloBytes EncodeHidHello(const HidHello& hello);
// Nothing when a report length is 0 or above kMaxVirtualReportLength.
std::optional<HidHello> DecodeHidHello(std::span<const uint8_t, kHidHelloSize> bytes);

// Splits a ZENDRIK_HID_SOCKET value into socket paths, dropping empty ones.
std::vector<std::string> SplitSocketPaths(std::string_view list);

// Devices behind the given sockets. Enumerate lists those that answer with a valid hello (each
// waited for at most one second) and skips the others. A connection to a server that has stopped
// accepting is given up after one second on `clock` (the system clock when none is given).
std::unique_ptr<HidBackend> MakeSocketHidBackend(std::vector<std::string> socketPaths, Clock& clock);
std::unique_ptr<HidBackend> MakeSocketHidBackend(std::vector<std::string> socketPaths);

}  // namespace zendrik
