#include "daemon/mqtt/read_batches.h"

#include <algorithm>
#include <utility>

#include "daemon/common/json_text.h"
#include "daemon/mqtt/packet_size.h"

namespace zendrik::daemon {
namespace {

// The most digits a sequence number takes: the frame is counted for the longest, so that a batch
// counted within the limit stays within it whatever its numbers are.
constexpr std::size_t kSeqDigitsMost = 20;
constexpr std::size_t kCommaBytes = 1;

std::string Quoted(const std::string& text) {
    return JsonText(nlohmann::ordered_json(text));
}

constexpr std::string_view kBatchHead = "{\"batch\":true,\"reader\":";
constexpr std::string_view kFirstSeq = ",\"first_seq\":";
constexpr std::string_view kLastSeq = ",\"last_seq\":";
constexpr std::string_view kReadsOpen = ",\"reads\":[";
constexpr std::string_view kReadsClose = "]}";

}  // namespace

std::size_t BatchFrameBytes(const std::string& reader) {
    return kBatchHead.size() + Quoted(reader).size() + kFirstSeq.size() + kSeqDigitsMost + kLastSeq.size() +
           kSeqDigitsMost + kReadsOpen.size() + kReadsClose.size();
}

std::string BatchPayload(const std::string& reader, uint64_t firstSeq, uint64_t lastSeq,
                         const std::string& reads) {
    std::string payload;
    payload.reserve(BatchFrameBytes(reader) + reads.size());
    payload.append(kBatchHead)
        .append(Quoted(reader))
        .append(kFirstSeq)
        .append(std::to_string(firstSeq))
        .append(kLastSeq)
        .append(std::to_string(lastSeq))
        .append(kReadsOpen)
        .append(reads)
        .append(kReadsClose);
    return payload;
}

Placement PlaceMessage(bool isRead, std::size_t readBytes, std::size_t openReads,
                       std::size_t openPayloadBytes, std::size_t topicBytes, const std::string& reader,
                       const BatchLimits& limits) {
    const bool open = openReads > 0;
    const auto packetBytes = [&](std::size_t readsBytes) {
        return PublishPacketBytes(topicBytes, BatchFrameBytes(reader) + readsBytes, limits.mqtt5);
    };
    // Anything but a read, and a read too large for a batch of its own, goes as it is stored (a
    // read too large even so is then set aside as ever).
    if (!isRead || limits.reads <= 1 || packetBytes(readBytes) > limits.packetBytes) {
        return open ? Placement::kCloseAndAlone : Placement::kAlone;
    }
    if (open && packetBytes(openPayloadBytes + kCommaBytes + readBytes) > limits.packetBytes) {
        return Placement::kCloseAndJoin;
    }
    return Placement::kJoin;
}

void ReadBatches::Add(SpooledMessage message, bool isRead, Clock::time_point now) {
    auto open = open_.find(message.reader);
    const bool isOpen = open != open_.end();
    const Placement placement = PlaceMessage(
        isRead, message.payload.size(), isOpen ? open->second.out.rows.size() : 0,
        isOpen ? open->second.out.payload.size() : 0, message.topic.size(), message.reader, limits_);
    ++rows_;
    if (isOpen && placement != Placement::kJoin) {
        Close(open);
        open = open_.end();
    }
    if (placement == Placement::kAlone || placement == Placement::kCloseAndAlone) {
        ready_.push_back(Outgoing{std::move(message.topic),
                                  std::move(message.payload),
                                  std::move(message.reader),
                                  message.seq,
                                  message.seq,
                                  {message.id},
                                  false});
        return;
    }
    if (open == open_.end()) {
        Outgoing out{message.topic, {}, message.reader, message.seq, message.seq, {}, true};
        open = open_.emplace(message.reader, Open{std::move(out), now + limits_.wait}).first;
    }
    Outgoing& out = open->second.out;
    if (!out.payload.empty()) {
        out.payload += ',';
    }
    out.payload += message.payload;
    out.rows.push_back(message.id);
    out.lastSeq = message.seq;
    if (out.rows.size() >= limits_.reads) {
        Close(open);
    }
}

void ReadBatches::Close(std::map<std::string, Open>::iterator open) {
    Outgoing out = std::move(open->second.out);
    out.payload = BatchPayload(out.reader, out.firstSeq, out.lastSeq, out.payload);
    ready_.push_back(std::move(out));
    open_.erase(open);
}

void ReadBatches::CloseDue(Clock::time_point now) {
    for (auto open = open_.begin(); open != open_.end();) {
        const auto next = std::next(open);
        if (open->second.due <= now) {
            Close(open);
        }
        open = next;
    }
}

std::optional<ReadBatches::Clock::time_point> ReadBatches::NextDue() const {
    std::optional<Clock::time_point> due;
    for (const auto& [reader, open] : open_) {
        due = due ? std::min(*due, open.due) : open.due;
    }
    return due;
}

Outgoing ReadBatches::TakeReady() {
    Outgoing out = std::move(ready_.front());
    ready_.pop_front();
    rows_ -= out.rows.size();
    return out;
}

void ReadBatches::Clear() {
    open_.clear();
    ready_.clear();
    rows_ = 0;
}

}  // namespace zendrik::daemon
