#include "sim/short_commands.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "commands/short_frame.h"
#include "sim/reply.h"

namespace zendrik::sim {
namespace {

constexpr std::size_t kOneByte = 1;
constexpr std::size_t kNoData = 0;
// The tag list request carries two parameter bytes.
constexpr std::size_t kListParamsSize = 2;

// The short-frame settings of one byte, which are only ever written.
struct ByteSetting {
    uint8_t command;
    uint8_t ReaderSettings::*member;
};

constexpr std::array<ByteSetting, 4> kByteSettings{{
    {short_command::kSetBaudRate, &ReaderSettings::baudRate},
    {short_command::kSetAntenna, &ReaderSettings::antenna},
    {short_command::kSetTime, &ReaderSettings::time},
    {short_command::kSetLed, &ReaderSettings::led},
}};

std::vector<uint8_t> Refused() {
    return BuildShortDataReply(kShortStatusRefused, {});
}
std::vector<uint8_t> Done() {
    return BuildShortDataReply(kShortFrameStatusOk, {});
}

// A record read; the records are kept so that they can always be laid out.
std::vector<uint8_t> GetRecord(const Request& request, std::span<const uint8_t> record) {
    return request.data.size() == kNoData ? BuildShortReply(kShortFrameStatusOk, record) : Refused();
}

std::optional<std::vector<uint8_t>> AnswerByteSetting(ReaderState& state, const Request& request) {
    for (const ByteSetting& setting : kByteSettings) {
        if (request.command == setting.command) {
            if (request.data.size() != kOneByte) {
                return Refused();
            }
            state.settings.*setting.member = request.data[0];
            return Done();
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> WriteBasicParams(ReaderState& state, const Request& request) {
    if (request.data.size() != kBasicParamSize || !CanLayOutShortRecord(request.data)) {
        return Refused();
    }
    std::copy(request.data.begin(), request.data.end(), state.settings.basicParams.begin());
    return Done();
}

std::vector<uint8_t> ListTagIds(ReaderState& state, const Request& request) {
    if (request.data.size() != kListParamsSize) {
        return Refused();
    }
    return BuildShortDataReply(kShortFrameStatusOk, state.tags.TakeRoundIds(kMaxReplyData));
}

// Commands that only acknowledge: their effect lies outside what the model keeps.
std::vector<uint8_t> Acknowledge(const Request& request) {
    return request.data.size() == kNoData ? Done() : Refused();
}

}  // namespace

std::vector<uint8_t> AnswerShort(ReaderState& state, const Request& request) {
    if (std::optional<std::vector<uint8_t>> reply = AnswerByteSetting(state, request)) {
        return *reply;
    }
    switch (request.command) {
        case short_command::kGetConfig:
            return GetRecord(request, state.settings.config);
        case short_command::kGetReaderVersion:
            return GetRecord(request, state.identity.versionRecord);
        case short_command::kReadBasicParam:
            return GetRecord(request, state.settings.basicParams);
        case short_command::kWriteBasicParam:
            return WriteBasicParams(state, request);
        case short_command::kGetListTagId:
            return ListTagIds(state, request);
        case short_command::kReadFactoryParameter:
        case short_command::kStopAutoRead:
            return Acknowledge(request);
        default:
            return BuildShortDataReply(kShortStatusUnknownCommand, {});
    }
}

}  // namespace zendrik::sim
