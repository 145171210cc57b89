#include "sim/reader.h"

#include <algorithm>

#include "commands/short_frame.h"
#include "link/frame.h"
#include "sim/short_commands.h"
#include "sim/standard_commands.h"

namespace zendrik::sim {

Reader::Reader(uint8_t kind) {
    Reset(kind);
}

std::optional<Reply> Reader::Answer(std::span<const uint8_t> bytes) {
    std::optional<Request> request = ParseRequest(bytes);
    if (!request) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    if (log_.size() >= kRequestLogCapacity) {
        log_.pop_front();
    }
    LoggedRequest& entry =
        log_.emplace_back(LoggedRequest{*request, std::chrono::steady_clock::now(), false});
    if (!AddressedToMe(*request)) {
        return std::nullopt;
    }
    std::vector<uint8_t> frame = Carry(*request);
    const bool tagRead =
        IsTagRead(*request) && frame.size() > kOffsetStatus && frame[kOffsetStatus] == kStatusOk;
    std::optional<Reply> reply = Reply{std::move(frame)};
    if (const std::optional<Fault> fault = faults_.Take(*request)) {
        reply = ApplyFault(*fault, std::move(reply->bytes));
    }
    entry.answered = reply.has_value();
    if (reply && IsInventoryRound(*request)) {
        reply->delay = std::max(reply->delay, roundTime_);
    }
    if (reply && tagRead) {
        ++tagReadsAnswered_;
    }
    return reply;
}

bool Reader::IsTagRead(const Request& request) {
    return request.family == FrameFamily::kStandard && request.command == command::kReadTag;
}

bool Reader::IsInventoryRound(const Request& request) {
    return IsTagRead(request) ||
           (request.family == FrameFamily::kShort && request.command == short_command::kGetListTagId);
}

bool Reader::AddressedToMe(const Request& request) const {
    return !addressFilter_ || request.family == FrameFamily::kShort ||
           request.address == state_.settings.address || request.address == kBroadcastAddress;
}

std::vector<uint8_t> Reader::Carry(const Request& request) {
    return request.family == FrameFamily::kStandard ? AnswerStandard(state_, request)
                                                    : AnswerShort(state_, request);
}

uint8_t Reader::kind() const {
    const std::lock_guard lock(mutex_);
    return state_.identity.kind;
}

bool Reader::SetKind(uint8_t kind) {
    const std::lock_guard lock(mutex_);
    if (kind > kMaxKind) {
        return false;
    }
    state_.identity.kind = kind;
    return true;
}

void Reader::Reset(uint8_t kind) {
    const std::lock_guard lock(mutex_);
    state_.identity = DefaultIdentity(kind);
    state_.settings = FactoryDefaults(kind);
    state_.tags.Clear();
    faults_.Clear();
    log_.clear();
}

void Reader::RestoreFactoryDefaults() {
    const std::lock_guard lock(mutex_);
    state_.settings = FactoryDefaults(state_.identity.kind);
}

ReaderIdentity Reader::identity() const {
    const std::lock_guard lock(mutex_);
    return state_.identity;
}

ReaderSettings Reader::settings() const {
    const std::lock_guard lock(mutex_);
    return state_.settings;
}

bool Reader::SetIdentity(const ReaderIdentity& identity) {
    if (!CanLayOut(identity)) {
        return false;
    }
    const std::lock_guard lock(mutex_);
    state_.identity = identity;
    return true;
}

bool Reader::SetSettings(const ReaderSettings& settings) {
    if (!CanLayOut(settings)) {
        return false;
    }
    const std::lock_guard lock(mutex_);
    state_.settings = settings;
    return true;
}

bool Reader::ModifySettings(const std::function<void(ReaderSettings&)>& change) {
    const std::lock_guard lock(mutex_);
    ReaderSettings changed = state_.settings;
    change(changed);
    if (!CanLayOut(changed)) {
        return false;
    }
    state_.settings = changed;
    return true;
}

void Reader::set_address_filter(bool on) {
    const std::lock_guard lock(mutex_);
    addressFilter_ = on;
}

bool Reader::AddTag(std::span<const uint8_t> epc) {
    const std::lock_guard lock(mutex_);
    return state_.tags.Add(epc);
}

bool Reader::EnterTag(std::span<const uint8_t> epc, uint8_t rssi) {
    const std::lock_guard lock(mutex_);
    return state_.tags.Enter(epc, rssi);
}

bool Reader::LeaveTag(std::span<const uint8_t> epc) {
    const std::lock_guard lock(mutex_);
    return state_.tags.Leave(epc);
}

bool Reader::SeeTagOnce(std::span<const uint8_t> epc, uint8_t rssi) {
    const std::lock_guard lock(mutex_);
    return state_.tags.SeeOnce(epc, rssi);
}

void Reader::ClearTags() {
    const std::lock_guard lock(mutex_);
    state_.tags.Clear();
}

std::vector<Epc> Reader::tags() const {
    const std::lock_guard lock(mutex_);
    return state_.tags.tags();
}

void Reader::AddFault(const FaultRule& rule) {
    const std::lock_guard lock(mutex_);
    faults_.Add(rule);
}

void Reader::FailCommand(uint8_t command, const Fault& fault, std::optional<unsigned> times,
                         FrameFamily family) {
    AddFault({FaultTarget::Command(command, family), fault, times});
}

void Reader::FailNext(unsigned replies, const Fault& fault) {
    AddFault({FaultTarget::Any(), fault, replies});
}

void Reader::ClearFaults() {
    const std::lock_guard lock(mutex_);
    faults_.Clear();
}

std::vector<LoggedRequest> Reader::requests() const {
    const std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

void Reader::ClearRequests() {
    const std::lock_guard lock(mutex_);
    log_.clear();
}

void Reader::set_round_time(std::chrono::milliseconds roundTime) {
    const std::lock_guard lock(mutex_);
    roundTime_ = roundTime;
}

std::chrono::milliseconds Reader::round_time() const {
    const std::lock_guard lock(mutex_);
    return roundTime_;
}

uint64_t Reader::tag_reads_answered() const {
    const std::lock_guard lock(mutex_);
    return tagReadsAnswered_;
}

}  // namespace zendrik::sim
