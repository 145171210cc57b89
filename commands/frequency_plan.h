#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zendrik {

// The reader's frequency plan travels in one of two layouts, chosen by the reader kind that the
// handshake reports. Layout A carries channel plans that the library turns into kilohertz, so that
// callers always see start, step and span; layout B carries two setting bytes as they are.
enum class FrequencyLayout : uint8_t { kChannelPlan, kSettingBytes };

inline constexpr uint8_t kSettingBytesReaderKind = 2;
inline constexpr std::size_t kFrequencyRequestLength = 5;
// The longest plan a read decodes: region code, step, channel count and a 24-bit start.
inline constexpr std::size_t kFrequencyReplyDataLength = 6;

// The region a read reports back to its caller: every layout A plan comes out as a free plan of
// start, step and span; layout B as its own code.
inline constexpr uint8_t kReportedChannelPlanRegion = 4;
inline constexpr uint8_t kReportedSettingBytesRegion = 5;

FrequencyLayout LayoutForReaderKind(uint8_t readerKind);

// What a write sends: layout A uses first (start in kHz), step (kHz) and span; layout B uses the
// low bytes of first and second.
struct FrequencySettings {
    int32_t first = 0;
    int32_t second = 0;
    int32_t step = 0;
    uint8_t span = 0;
};

// What a read reports; each value is present only when the read produced it.
struct FrequencyReading {
    std::optional<uint8_t> region;
    std::optional<int32_t> first;
    std::optional<int32_t> second;
    std::optional<int32_t> step;
    std::optional<uint8_t> span;

    // Takes over every value that `newer` has, keeping the others.
    void Update(const FrequencyReading& newer);
};

std::array<uint8_t, kFrequencyRequestLength> EncodeFrequencyRequest(FrequencyLayout layout,
                                                                    const FrequencySettings& settings);

// How many reply data bytes a plan read decodes: two in layout B; in layout A the region code, plus
// the start and end channel of a fixed plan, or step, channel count and start of the free plan.
// `regionCode` is data[0] of the reply (layout A only).
std::size_t FrequencyReplyDataNeeded(FrequencyLayout layout, uint8_t regionCode);

// Decodes the reply data of a plan read (data[0] is reply byte 5; at least
// kFrequencyReplyDataLength bytes). result::kBadReply for a layout A region code above 4, with
// only the region set.
int32_t DecodeFrequencyReply(FrequencyLayout layout, std::span<const uint8_t> data,
                             FrequencyReading& reading);

}  // namespace zendrik
