#include "sim/reader_settings.h"

#include <string_view>

#include "sim/reply.h"

namespace zendrik::sim {
namespace {

constexpr uint8_t kWorkModeAlwaysRead = 0;
constexpr uint8_t kBuzzerOn = 1;
constexpr uint8_t kWiegand26 = 0x26;
constexpr uint8_t kFactoryTriggerSeconds = 3;
constexpr uint8_t kFactoryWiegandInterval = 2;  // 200 ms
// Wiegand output on, the last 3 bytes of a 12-byte EPC, in order: what a Wiegand 26 panel takes.
constexpr std::array<uint8_t, kWgOutBytesSize> kFactoryWgOutBytes{1, 9, 3, 0};
constexpr uint8_t kFactoryReadTagInterval = 1;
constexpr uint8_t kFactoryAddress = 1;

// 902000 kHz (channel 7) to 928000 kHz (channel 59), 500 kHz apart.
constexpr uint8_t kFccFirstChannel = 7;
constexpr uint8_t kFccLastChannel = 59;
constexpr uint8_t kFirstListChannel = 1;
constexpr uint8_t kLastListChannel = 63;

// Short-frame records. The first byte of each is also the reply's length byte, so it must be at
// least 3 for the five-byte records and 30 for the block (see BuildShortReply).
constexpr std::array<uint8_t, kShortRecordSize> kFactoryConfig{0x03, 0x00, 0x01, 0x1E, 0x01};
constexpr std::array<uint8_t, kShortRecordSize> kVersionRecord{0x03, 0x00, 0x02, 0x01, 0x07};
constexpr uint8_t kBasicParamLength = 30;
constexpr uint8_t kFactoryBaudCode = 5;
constexpr uint8_t kFactoryAntenna = 1;
constexpr uint8_t kFactoryLedOn = 1;

constexpr uint8_t kLowValue = 1;
constexpr std::array<uint8_t, kMinSerialNumberSize> kSerialNumber{0x5A, 0x44, 0x52, 0x4B, 0x20, 0x24,
                                                                  0x06, 0x01, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t kSerialKindOffset = 8;

constexpr PowerRange kPowerRangeStandard{0, 33};
constexpr PowerRange kPowerRangeNarrow{18, 26};
constexpr PowerRange kPowerRangeChannelList{0, 63};

std::array<uint8_t, kBasicParamSize> FactoryBasicParams(const ReaderSettings& settings) {
    // A plausible block: its length byte, then the settings the reader starts with.
    return {kBasicParamLength,        0,
            settings.workMode,        settings.buzzer,
            settings.wiegandFormat,   settings.triggerTime,
            settings.wiegandInterval, settings.readTagInterval,
            settings.outputPower,     settings.address,
            kFactoryBaudCode,         kFactoryAntenna};
}

}  // namespace

PowerRange PowerRangeOf(uint8_t kind) {
    switch (kind) {
        case kKindNarrowPower:
            return kPowerRangeNarrow;
        case kKindChannelList:
            return kPowerRangeChannelList;
        default:
            return kPowerRangeStandard;
    }
}

ReaderSettings FactoryDefaults(uint8_t kind) {
    ReaderSettings settings;
    settings.workMode = kWorkModeAlwaysRead;
    settings.buzzer = kBuzzerOn;
    settings.wiegandFormat = kWiegand26;
    settings.triggerTime = kFactoryTriggerSeconds;
    settings.wiegandInterval = kFactoryWiegandInterval;
    settings.wgOutBytes = kFactoryWgOutBytes;
    settings.readTagInterval = kFactoryReadTagInterval;
    settings.outputPower = PowerRangeOf(kind).highest;
    settings.address = kFactoryAddress;
    settings.planA.region = kRegionFccFromChannel7;
    settings.planA.startChannel = kFccFirstChannel;
    settings.planA.endChannel = kFccLastChannel;
    settings.planB = {kFirstListChannel, kLastListChannel};
    settings.config = kFactoryConfig;
    settings.baudRate = kFactoryBaudCode;
    settings.antenna = kFactoryAntenna;
    settings.led = kFactoryLedOn;
    settings.basicParams = FactoryBasicParams(settings);
    return settings;
}

ReaderIdentity DefaultIdentity(uint8_t kind) {
    static constexpr std::array<std::string_view, 3> kVersionTexts{"ZR-UHF-S V2.3.1", "ZR-UHF-N V1.8.0",
                                                                   "ZR-UHF-L V3.0.2"};
    const std::string_view text = kVersionTexts[kind < kVersionTexts.size() ? kind : kKindStandard];
    ReaderIdentity identity;
    identity.kind = kind;
    identity.lowValue = kLowValue;
    identity.version.assign(text.begin(), text.end());
    identity.serialNumber.assign(kSerialNumber.begin(), kSerialNumber.end());
    identity.serialNumber[kSerialKindOffset] = kind;
    identity.versionRecord = kVersionRecord;
    return identity;
}

bool CanLayOut(const ReaderSettings& settings) {
    return CanLayOutShortRecord(settings.basicParams) && CanLayOutShortRecord(settings.config);
}

bool CanLayOut(const ReaderIdentity& identity) {
    return identity.kind <= kMaxKind && identity.lowValue <= kMaxLowValue &&
           identity.version.size() <= kMaxVersionSize &&
           identity.serialNumber.size() >= kMinSerialNumberSize &&
           identity.serialNumber.size() <= kMaxReplyData && CanLayOutShortRecord(identity.versionRecord);
}

}  // namespace zendrik::sim
