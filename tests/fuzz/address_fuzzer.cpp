// Feeds arbitrary bytes, as a reader address, to the address parser and to the exported check
// with a reason buffer whose size also comes from the input. Besides the sanitizers' own
// findings, it stops when a refusal comes without a reason, an accepted address breaks the
// grammar's bounds, the reason is not terminated inside its buffer, or an accepted address,
// written out again, does not parse to the same thing.
//
// Input: reason buffer size, then the address text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "zendrik/zendrik_session.h"
#include "link/com_port_map.h"
#include "session/address.h"

namespace zendrik::session {
namespace {

constexpr uint8_t kSentinel = 0x5A;
constexpr std::size_t kReasonSlack = 4;  // bytes past the reason buffer that must stay untouched

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string Written(const ReaderAddress& address) {
    if (const auto* usb = std::get_if<UsbAddress>(&address)) {
        return usb->path.empty() ? "usb" : "usb:" + usb->path;
    }
    if (const auto* serial = std::get_if<SerialAddress>(&address)) {
        const std::string device =
            serial->comIndex ? "COM" + std::to_string(*serial->comIndex + 1) : serial->device;
        return "serial:" + device + "?baud=" + std::to_string(serial->baud);
    }
    const auto& udp = std::get<UdpAddress>(address);
    return "udp:" + udp.reader.ip + ":" + std::to_string(udp.reader.port) + "?local=" + udp.local.ip + ":" +
           std::to_string(udp.local.port);
}

void CheckBounds(const ReaderAddress& address) {
    if (const auto* serial = std::get_if<SerialAddress>(&address)) {
        Check(EffectiveBaud(serial->baud) == serial->baud);
        Check(serial->comIndex ? *serial->comIndex >= 0 && *serial->comIndex < kComPortCount
                               : !serial->device.empty());
    } else if (const auto* udp = std::get_if<UdpAddress>(&address)) {
        Check(udp->reader.port != 0);
    }
}

void CheckExported(const std::string& text, std::size_t reasonSize, bool accepted) {
    std::vector<char> reason(reasonSize + kReasonSlack, static_cast<char>(kSentinel));
    const int32_t result = zendrik_address_check(text.c_str(), reason.data(), reasonSize);
    Check(result == (accepted ? int32_t{ZENDRIK_OK} : int32_t{ZENDRIK_ERR_BAD_ADDRESS}));
    for (std::size_t i = reasonSize; i < reason.size(); ++i) {
        Check(reason[i] == static_cast<char>(kSentinel));
    }
    if (!accepted && reasonSize > 0) {
        Check(std::memchr(reason.data(), '\0', reasonSize) != nullptr);
    }
}

}  // namespace
}  // namespace zendrik::session

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zendrik::session;
    if (size < 1) {
        return 0;
    }
    const std::size_t reasonSize = data[0];
    // The exported check takes a C string: the text ends at the first NUL, as it would there.
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text.resize(std::strlen(text.c_str()));

    const ParsedAddress parsed = ParseReaderAddress(text);
    Check(parsed.address.has_value() == parsed.why.empty());
    if (parsed.address) {
        CheckBounds(*parsed.address);
        const ParsedAddress again = ParseReaderAddress(Written(*parsed.address));
        Check(again.address && *again.address == *parsed.address);
    }
    CheckExported(text, reasonSize, parsed.address.has_value());
    return 0;
}
