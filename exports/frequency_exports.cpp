// Exported frequency plan functions.
#include <optional>

#include "commands/frequency_region.h"
#include "exports/global_link.h"
#include "zendrik/zendrik.h"

using zendrik::OnGlobalLink;

namespace {

template <typename T>
void WriteIfPresent(const std::optional<T>& value, T* output) {
    if (value) {
        *output = *value;
    }
}

}  // namespace

extern "C" {

// `region` is accepted for symmetry with the read and not used: the layout follows the reader kind.
ZENDRIK_API int32_t UhfSetFrequencyRegion(uint8_t address, int32_t /*region*/, int32_t first, int32_t second,
                                          int32_t step, uint8_t span) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_VERIFY, [&](zendrik::Link& link) {
        return zendrik::SetFrequencyRegion(link, address,
                                           zendrik::FrequencySettings{first, second, step, span});
    });
}

// Writes only the outputs the read produced: the region always on a decoded reply, first and
// second in layout B, first, step and span in layout A.
ZENDRIK_API int32_t UhfGetFrequencyRegion(uint8_t address, uint8_t* region, int32_t* first, int32_t* second,
                                          int32_t* step, uint8_t* span) {
    if (region == nullptr || first == nullptr || second == nullptr || step == nullptr || span == nullptr) {
        return ZENDRIK_ERR_STATUS;
    }
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_STATUS, [&](zendrik::Link& link) {
        zendrik::FrequencyReading reading;
        const int32_t result = zendrik::GetFrequencyRegion(link, address, reading);
        WriteIfPresent(reading.region, region);
        WriteIfPresent(reading.first, first);
        WriteIfPresent(reading.second, second);
        WriteIfPresent(reading.step, step);
        WriteIfPresent(reading.span, span);
        return result;
    });
}

}  // extern "C"
