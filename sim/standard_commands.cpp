#include "sim/standard_commands.h"

#include <algorithm>
#include <array>
#include <optional>

#include "link/frame.h"
#include "sim/frequency_plan.h"
#include "sim/reply.h"

namespace zendrik::sim {
namespace {

constexpr std::size_t kKindShift = 4;
constexpr std::size_t kOneByte = 1;
constexpr std::size_t kNoData = 0;
// The password record: the enable flag, then the password bytes.
constexpr std::size_t kPasswordFlagSize = 1;
constexpr std::size_t kPasswordRecordSize = kPasswordFlagSize + kPasswordSize;
constexpr std::size_t kPlanWriteSize = 5;
constexpr uint8_t kWiegand26 = 0x26;
constexpr uint8_t kWiegand34 = 0x34;

using Validator = bool (*)(uint8_t value, uint8_t kind);

bool AnyValue(uint8_t, uint8_t) {
    return true;
}
bool OnOff(uint8_t value, uint8_t) {
    return value <= 1;
}
bool WiegandFormat(uint8_t value, uint8_t) {
    return value == kWiegand26 || value == kWiegand34;
}
bool PowerInRange(uint8_t value, uint8_t kind) {
    const PowerRange range = PowerRangeOf(kind);
    return value >= range.lowest && value <= range.highest;
}

// The settings of one byte, each with its set and get command.
struct ByteSetting {
    uint8_t setCommand;
    uint8_t getCommand;
    uint8_t ReaderSettings::*member;
    Validator accepts;
};

constexpr std::array<ByteSetting, 8> kByteSettings{{
    {command::kSetWorkMode, command::kGetWorkMode, &ReaderSettings::workMode, OnOff},
    {command::kSetBuzzer, command::kGetBuzzer, &ReaderSettings::buzzer, OnOff},
    {command::kSetWiegandFormat, command::kGetWiegandFormat, &ReaderSettings::wiegandFormat, WiegandFormat},
    {command::kSetTriggerTime, command::kGetTriggerTime, &ReaderSettings::triggerTime, AnyValue},
    {command::kSetWiegandInterval, command::kGetWiegandInterval, &ReaderSettings::wiegandInterval, AnyValue},
    {command::kSetReadTagInterval, command::kGetReadTagInterval, &ReaderSettings::readTagInterval, AnyValue},
    {command::kSetOutPower, command::kGetOutPower, &ReaderSettings::outputPower, PowerInRange},
    {command::kSetAddress, command::kGetAddress, &ReaderSettings::address, AnyValue},
}};

// A reply under construction: the status and data the command chose.
struct Outcome {
    uint8_t status = kStatusOk;
    std::vector<uint8_t> data;
};

Outcome Refused() {
    return {kStatusRefused, {}};
}
Outcome Done() {
    return {kStatusOk, {}};
}

template <typename Bytes>
Outcome Data(const Bytes& bytes) {
    return {kStatusOk, std::vector<uint8_t>(bytes.begin(), bytes.end())};
}

std::optional<Outcome> AnswerByteSetting(ReaderState& state, const Request& request) {
    for (const ByteSetting& setting : kByteSettings) {
        uint8_t& value = state.settings.*setting.member;
        if (request.command == setting.getCommand) {
            return request.data.size() == kNoData ? Data(std::array{value}) : Refused();
        }
        if (request.command == setting.setCommand) {
            if (request.data.size() != kOneByte || !setting.accepts(request.data[0], state.identity.kind)) {
                return Refused();
            }
            value = request.data[0];
            return Done();
        }
    }
    return std::nullopt;
}

Outcome Handshake(const ReaderState& state, const Request& request) {
    if (request.data.size() != kOneByte) {
        return Refused();
    }
    const uint8_t kindAndLow =
        static_cast<uint8_t>((state.identity.kind << kKindShift) | state.identity.lowValue);
    return Data(std::array{kindAndLow});
}

// A get with no data whose reply is `bytes`.
template <typename Bytes>
Outcome Get(const Request& request, const Bytes& bytes) {
    return request.data.size() == kNoData ? Data(bytes) : Refused();
}

Outcome SetWgOutBytes(ReaderState& state, const Request& request) {
    if (request.data.size() != kWgOutBytesSize) {
        return Refused();
    }
    std::copy(request.data.begin(), request.data.end(), state.settings.wgOutBytes.begin());
    return Done();
}

Outcome SetPassword(ReaderState& state, const Request& request) {
    if (request.data.size() != kPasswordRecordSize) {
        return Refused();
    }
    state.settings.passwordEnabled = request.data[0];
    std::copy(request.data.begin() + kPasswordFlagSize, request.data.end(), state.settings.password.begin());
    return Done();
}

Outcome GetPassword(const ReaderState& state, const Request& request) {
    std::vector<uint8_t> record{state.settings.passwordEnabled};
    record.insert(record.end(), state.settings.password.begin(), state.settings.password.end());
    return Get(request, record);
}

Outcome SetFrequency(ReaderState& state, const Request& request) {
    if (request.data.size() != kPlanWriteSize) {
        return Refused();
    }
    if (state.identity.kind == kKindChannelList) {
        const std::optional<FrequencyPlanB> plan = DecodePlanBWrite(request.data);
        if (!plan) {
            return Refused();
        }
        state.settings.planB = *plan;
        return Done();
    }
    const std::optional<FrequencyPlanA> plan = DecodePlanAWrite(request.data);
    if (!plan) {
        return Refused();
    }
    state.settings.planA = *plan;
    return Done();
}

Outcome GetFrequency(const ReaderState& state, const Request& request) {
    return Get(request, state.identity.kind == kKindChannelList ? EncodePlanB(state.settings.planB)
                                                                : EncodePlanA(state.settings.planA));
}

Outcome ReadTag(ReaderState& state, const Request& request) {
    if (request.data.size() != kNoData) {
        return Refused();
    }
    const std::optional<TagSighting> tag = state.tags.Next();
    if (!tag) {
        return {kStatusNoTag, {}};
    }
    return Data(TagReplyData(state.identity.kind, tag->epc, tag->rssi));
}

Outcome FactoryDefault(ReaderState& state, const Request& request) {
    if (request.data.size() != kNoData) {
        return Refused();
    }
    state.settings = FactoryDefaults(state.identity.kind);
    return Done();
}

Outcome Dispatch(ReaderState& state, const Request& request) {
    if (std::optional<Outcome> outcome = AnswerByteSetting(state, request)) {
        return *outcome;
    }
    switch (request.command) {
        case command::kHandshake:
            return Handshake(state, request);
        case command::kVersion:
            return Get(request, state.identity.version);
        case command::kSerialNumber:
            return Get(request, state.identity.serialNumber);
        case command::kSetWiegandOutBytes:
            return SetWgOutBytes(state, request);
        case command::kGetWiegandOutBytes:
            return Get(request, state.settings.wgOutBytes);
        case command::kSetPassword:
            return SetPassword(state, request);
        case command::kGetPassword:
            return GetPassword(state, request);
        case command::kSetFrequency:
            return SetFrequency(state, request);
        case command::kGetFrequency:
            return GetFrequency(state, request);
        case command::kReadTag:
            return ReadTag(state, request);
        case command::kFactoryDefault:
            return FactoryDefault(state, request);
        default:
            return {kStatusUnknownCommand, {}};
    }
}

}  // namespace

std::vector<uint8_t> AnswerStandard(ReaderState& state, const Request& request) {
    const Outcome outcome = Dispatch(state, request);
    return BuildReply(state.settings.address, outcome.status, outcome.data);
}

}  // namespace zendrik::sim
