// Exported handshake and identity functions: greeting the reader, its version and serial number.
#include <cstddef>
#include <span>

#include "exports/global_link.h"
#include "zendrik/zendrik.h"
#include "link/handshake.h"
#include "link/identity.h"

using zendrik::IdentityRecord;
using zendrik::kIdentityCapacity;
using zendrik::OnGlobalLink;

namespace {

int32_t ReadIdentityInto(uint8_t address, IdentityRecord record, uint8_t* buffer) {
    if (buffer == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        std::size_t length = 0;
        return zendrik::ReadIdentity(
            link, address, record, std::span<uint8_t, kIdentityCapacity>(buffer, kIdentityCapacity), length);
    });
}

}  // namespace

extern "C" {

ZENDRIK_API int32_t Handshake(uint8_t address, uint8_t value, uint8_t* kind, uint8_t* low) {
    if (kind == nullptr || low == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        zendrik::HandshakeInfo info;
        const int32_t result = zendrik::Handshake(link, address, value, info);
        if (result == ZENDRIK_OK) {
            *kind = info.readerKind;
            *low = info.lowValue;
        }
        return result;
    });
}

ZENDRIK_API int32_t Get_Version(uint8_t address, uint8_t* buffer) {
    return ReadIdentityInto(address, IdentityRecord::kVersion, buffer);
}

ZENDRIK_API int32_t Get_SerNum(uint8_t address, uint8_t* buffer) {
    return ReadIdentityInto(address, IdentityRecord::kSerialNumber, buffer);
}

}  // extern "C"
