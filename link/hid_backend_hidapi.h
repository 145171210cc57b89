#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "link/hid_backend.h"

namespace zendrik {

// Real HID devices through hidapi's hidraw backend.
std::unique_ptr<HidBackend> MakeHidapiBackend();

// Report lengths of a device as its report descriptor declares them, each including the report id
// byte (as the capabilities of a HID interface give them), and whether its reports are numbered.
struct HidReportLayout {
    std::size_t inputLength = 0;   // 0: the descriptor declares no input report
    std::size_t outputLength = 0;  // 0: the descriptor declares no output report
    bool numbered = false;         // Report ID items present: every report starts with its id
};

// Walks the items of a HID report descriptor and sums the bits of every input and output report.
// The longest report of each kind gives its length. Malformed or truncated descriptors yield what
// was declared up to the fault.
HidReportLayout ParseReportDescriptor(std::span<const uint8_t> descriptor);

// The report layout of a hidraw node, from its report descriptor. Lengths that cannot be read, or
// that the descriptor does not declare sensibly, fall back to the reader's 65 bytes, unnumbered.
HidReportLayout ReportLayoutOfNode(const std::string& path);

}  // namespace zendrik
