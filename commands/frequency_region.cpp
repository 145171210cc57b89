#include "commands/frequency_region.h"

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/reply_shape.h"
#include "link/result_codes.h"
#include "link/status_retry.h"

namespace zendrik {
namespace {

// The reader needs time after a handshake before it reports its plan.
constexpr Milliseconds kSettleWait{1000};
// Storing a plan takes the reader about a second; short pauses frame the write on both sides.
constexpr Milliseconds kBeforeWriteWait{10};
constexpr Milliseconds kStoreWait{1000};
constexpr Milliseconds kAfterConfirmWait{10};
// The last layout B read-back goes to reader address 0, whatever address the write used.
constexpr uint8_t kSettingBytesConfirmAddress = 0;

bool MatchesChannelPlan(const FrequencyReading& reading, const FrequencySettings& settings) {
    return reading.first == settings.first && reading.step == settings.step && reading.span == settings.span;
}

bool MatchesSettingBytes(const FrequencyReading& reading, const FrequencySettings& settings) {
    return reading.first == settings.first && reading.second == settings.second;
}

// Reads the plan back into the values the whole write shares: a read-back that fails, or that does
// not report a value, leaves the previous one in place.
void ReadBack(Link& link, uint8_t address, FrequencyReading& shared, UnansweredAttempts& readBacks) {
    FrequencyReading latest;
    readBacks.Note(GetFrequencyRegion(link, address, latest));
    shared.Update(latest);
}

void SendPlan(Link& link, std::span<const uint8_t> request) {
    StandardReply reply{};
    link.Exchange(ExchangeVariant::Standard(), request, reply);
}

bool ConfirmChannelPlan(Link& link, uint8_t address, std::span<const uint8_t> request,
                        const FrequencySettings& settings, FrequencyReading& readBack,
                        UnansweredAttempts& readBacks) {
    if (MatchesChannelPlan(readBack, settings)) {
        return true;
    }
    SendPlan(link, request);
    ReadBack(link, address, readBack, readBacks);
    return MatchesChannelPlan(readBack, settings);
}

bool ConfirmSettingBytes(Link& link, std::span<const uint8_t> request, const FrequencySettings& settings,
                         FrequencyReading& readBack, UnansweredAttempts& readBacks) {
    if (!MatchesSettingBytes(readBack, settings)) {
        SendPlan(link, request);
    }
    ReadBack(link, kSettingBytesConfirmAddress, readBack, readBacks);
    return MatchesSettingBytes(readBack, settings);
}

}  // namespace

int32_t GetFrequencyRegion(Link& link, uint8_t address, FrequencyReading& reading) {
    link.SettleOnce(kSettleWait);
    const auto request = BuildStandardFrame(address, command::kGetFrequency, {});
    StandardReply reply{};
    // Only the reply decides, and one of another length than the plan it announces is refused
    // rather than read past its data.
    const int32_t exchanged = link.Exchange(ExchangeVariant::Standard(), request, reply);
    const FrequencyLayout layout = LayoutForReaderKind(link.reader_kind());
    const ReplyShape shape = ReplyShape::Exactly(FrequencyReplyDataNeeded(layout, reply[kOffsetData]));
    if (const int32_t judged = exchanged == result::kOk ? JudgeReply(link, reply, shape) : exchanged;
        judged != result::kOk) {
        return UnansweredResultOf(link, judged, result::kStatus);
    }
    return DecodeFrequencyReply(layout, std::span(reply).subspan(kOffsetData), reading);
}

int32_t SetFrequencyRegion(Link& link, uint8_t address, const FrequencySettings& settings) {
    const FrequencyLayout layout = LayoutForReaderKind(link.reader_kind());
    const auto data = EncodeFrequencyRequest(layout, settings);
    const auto request = BuildStandardFrame(address, command::kSetFrequency, data);

    link.clock().wait(kBeforeWriteWait);
    SendPlan(link, request);
    link.clock().wait(kStoreWait);

    FrequencyReading readBack;  // matches nothing until a read-back reports values
    UnansweredAttempts readBacks;
    ReadBack(link, address, readBack, readBacks);
    const bool confirmed = layout == FrequencyLayout::kChannelPlan
                               ? ConfirmChannelPlan(link, address, request, settings, readBack, readBacks)
                               : ConfirmSettingBytes(link, request, settings, readBack, readBacks);
    if (!confirmed) {
        return readBacks.Result(link, result::kVerify);
    }
    link.clock().wait(kAfterConfirmWait);
    return result::kOk;
}

}  // namespace zendrik
