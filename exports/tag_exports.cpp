// Exported tag reading functions and the EPC field extraction.
#include <span>

#include "commands/epc_output.h"
#include "commands/tag_commands.h"
#include "exports/global_link.h"
#include "zendrik/zendrik.h"

using zendrik::kTagDataCapacity;
using zendrik::kTagListCapacity;
using zendrik::OnGlobalLink;

extern "C" {

ZENDRIK_API int32_t UhfReadTag(uint8_t address, uint8_t* data, uint8_t* length) {
    if (data == nullptr || length == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::ReadTag(link, address, std::span<uint8_t, kTagDataCapacity>(data, kTagDataCapacity),
                                *length);
    });
}

ZENDRIK_API int32_t UhfReadId(uint8_t address, int32_t /*unused1*/, int32_t /*unused2*/, int32_t /*unused3*/,
                              int32_t /*unused4*/, int32_t /*unused5*/, int32_t /*unused6*/,
                              int32_t /*unused7*/) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS,
                                 [&](zendrik::Link& link) { return zendrik::ReadId(link, address); });
}

ZENDRIK_API int32_t UhfGetListTagId(int32_t /*unused1*/, uint8_t p1, uint8_t p2, int32_t /*unused2*/,
                                    uint8_t* count, uint8_t* ids) {
    if (count == nullptr || ids == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        return zendrik::GetListTagId(link, p1, p2, *count,
                                     std::span<uint8_t, kTagListCapacity>(ids, kTagListCapacity));
    });
}

ZENDRIK_API int32_t UhfStopAutoReadEPC(int32_t /*unused*/) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS,
                                 [](zendrik::Link& link) { return zendrik::StopAutoReadEpc(link); });
}

ZENDRIK_API int32_t EpcOutput(const uint8_t* source, uint8_t sourceLength, uint8_t reverse, uint8_t offset,
                              uint8_t count, uint8_t* destination) {
    if (count == 0) {
        // An empty field touches neither buffer; only its position is judged.
        return offset > sourceLength ? ZENDRIK_ERR_EPC_RANGE : ZENDRIK_OK;
    }
    if (source == nullptr || destination == nullptr) {
        return ZENDRIK_ERR_EPC_RANGE;
    }
    return zendrik::ExtractEpcField(std::span(source, sourceLength), reverse != 0, offset, count,
                                    std::span(destination, count));
}

}  // extern "C"
