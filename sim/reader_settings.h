#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/frequency_plan.h"

namespace zendrik::sim {

inline constexpr std::size_t kWgOutBytesSize = 4;
inline constexpr std::size_t kPasswordSize = 4;
inline constexpr std::size_t kBasicParamSize = 32;
inline constexpr std::size_t kShortRecordSize = 5;

// The reader kinds the library and the tool know, named for what sets them apart: kind 1 takes a
// narrow power range, kind 2 keeps its frequency plan as a channel list (layout B). The handshake
// carries the kind in 4 bits; kinds above 2 behave as kind 0.
inline constexpr uint8_t kKindStandard = 0;
inline constexpr uint8_t kKindNarrowPower = 1;
inline constexpr uint8_t kKindChannelList = 2;
inline constexpr uint8_t kMaxKind = 15;
inline constexpr uint8_t kMaxLowValue = 15;

// Longest version text the library takes; shortest serial number the tool shows in full.
inline constexpr std::size_t kMaxVersionSize = 50;
inline constexpr std::size_t kMinSerialNumberSize = 12;

// What identifies the reader; a factory default leaves it alone.
struct ReaderIdentity {
    uint8_t kind = kKindStandard;
    uint8_t lowValue = 0;               // the handshake's low nibble
    std::vector<uint8_t> version;       // text bytes, at most kMaxVersionSize, no terminator
    std::vector<uint8_t> serialNumber;  // kMinSerialNumberSize bytes or more
    // The short-frame version record: [0] is also the reply's length byte (see BuildShortReply).
    std::array<uint8_t, kShortRecordSize> versionRecord{};

    bool operator==(const ReaderIdentity&) const = default;
};

// Every setting the protocol reads or writes; a factory default restores them all.
struct ReaderSettings {
    uint8_t workMode = 0;                               // 0 always read, 1 read by trigger
    uint8_t buzzer = 0;                                 // 1 on, 0 off
    uint8_t wiegandFormat = 0;                          // 0x26 or 0x34
    uint8_t triggerTime = 0;                            // seconds
    uint8_t wiegandInterval = 0;                        // units of 100 ms
    std::array<uint8_t, kWgOutBytesSize> wgOutBytes{};  // enable, start byte, count, inverted
    uint8_t passwordEnabled = 0;
    std::array<uint8_t, kPasswordSize> password{};
    uint8_t readTagInterval = 0;  // seconds
    uint8_t outputPower = 0;
    uint8_t address = 0;
    FrequencyPlanA planA;  // in use on kinds other than 2
    FrequencyPlanB planB;  // in use on kind 2
    // The short-frame records: [0] of each is also the reply's length byte (see BuildShortReply).
    std::array<uint8_t, kBasicParamSize> basicParams{};
    std::array<uint8_t, kShortRecordSize> config{};
    uint8_t baudRate = 0;
    uint8_t antenna = 0;
    uint8_t time = 0;
    uint8_t led = 0;

    bool operator==(const ReaderSettings&) const = default;
};

struct PowerRange {
    uint8_t lowest;
    uint8_t highest;
};

// The output powers a reader of `kind` takes: 0 to 33 on kind 0, 18 to 26 on kind 1, 0 to 63 on
// kind 2 (the ranges the tool offers).
PowerRange PowerRangeOf(uint8_t kind);

// The values a reader of `kind` leaves the factory with.
ReaderSettings FactoryDefaults(uint8_t kind);
ReaderIdentity DefaultIdentity(uint8_t kind);

// Whether the records can be laid out in replies that fit one USB report; the model refuses
// values that cannot.
bool CanLayOut(const ReaderSettings& settings);
bool CanLayOut(const ReaderIdentity& identity);

}  // namespace zendrik::sim
