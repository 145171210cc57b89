#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/fault.h"
#include "sim/reader_state.h"
#include "sim/reply.h"
#include "sim/request.h"

namespace zendrik::sim {

// One request as the reader received it, for tests to read.
struct LoggedRequest {
    Request request;
    std::chrono::steady_clock::time_point received;
    bool answered = false;  // false when it went unanswered (silence, or another reader's address)
};

// The virtual reader: its identity, settings and tag field, the faults it has been told to commit,
// and a log of the requests it received. Every member function takes the one mutex, so transport
// threads and a test may use one reader at the same time.
//
// It answers standard frames (see AnswerStandard) and short frames (see AnswerShort). A request
// that is not a whole frame with a valid checksum gets no answer and is not logged. With the
// address filter on, standard frames to an address other than the reader's own and 255 get no
// answer either; it is off by default, so the reader answers whatever address the caller uses.
class Reader {
  public:
    explicit Reader(uint8_t kind = kKindStandard);

    // The reply to one request frame (bytes after the frame are ignored), or nothing for silence.
    std::optional<Reply> Answer(std::span<const uint8_t> request);

    uint8_t kind() const;
    // Changes the kind only (0 to 15); the settings stay as they are. False for a kind above 15.
    bool SetKind(uint8_t kind);
    // Identity and settings of `kind`'s factory defaults, an empty field, no faults, an empty log.
    void Reset(uint8_t kind);
    void RestoreFactoryDefaults();

    ReaderIdentity identity() const;
    ReaderSettings settings() const;
    // Each setter refuses (returns false, changes nothing) what cannot be laid out in a reply.
    bool SetIdentity(const ReaderIdentity& identity);
    bool SetSettings(const ReaderSettings& settings);
    bool ModifySettings(const std::function<void(ReaderSettings&)>& change);
    void set_address_filter(bool on);

    // False for an empty EPC or one longer than kMaxEpcSize.
    bool AddTag(std::span<const uint8_t> epc);
    // Tags that move: see TagField's Enter, Leave and SeeOnce. A scene's player calls these from
    // its own thread while the servers answer.
    bool EnterTag(std::span<const uint8_t> epc, uint8_t rssi = kDefaultSignalStrength);
    bool LeaveTag(std::span<const uint8_t> epc);
    bool SeeTagOnce(std::span<const uint8_t> epc, uint8_t rssi = kDefaultSignalStrength);
    void ClearTags();
    std::vector<Epc> tags() const;

    void AddFault(const FaultRule& rule);
    // Spoils the replies to one command, `times` times or for good.
    void FailCommand(uint8_t command, const Fault& fault, std::optional<unsigned> times = std::nullopt,
                     FrameFamily family = FrameFamily::kStandard);
    // Spoils the next `replies` replies, whatever their command.
    void FailNext(unsigned replies, const Fault& fault);
    void ClearFaults();

    // The latest kRequestLogCapacity requests, oldest first.
    std::vector<LoggedRequest> requests() const;
    void ClearRequests();

    // How long the reader takes for one inventory round: its answers to a tag read (0xF6) and to
    // the tag list go out this late. 0 (the default) answers at once.
    void set_round_time(std::chrono::milliseconds roundTime);
    std::chrono::milliseconds round_time() const;
    // Tag reads answered with a tag (status 200) since the reader was made: the reads a host could
    // have taken, to measure what an inventory delivered against.
    uint64_t tag_reads_answered() const;

  private:
    static bool IsTagRead(const Request& request);
    static bool IsInventoryRound(const Request& request);
    bool AddressedToMe(const Request& request) const;
    std::vector<uint8_t> Carry(const Request& request);

    mutable std::mutex mutex_;
    ReaderState state_;
    FaultPlan faults_;
    std::deque<LoggedRequest> log_;
    bool addressFilter_ = false;
    std::chrono::milliseconds roundTime_{0};
    uint64_t tagReadsAnswered_ = 0;
};

}  // namespace zendrik::sim
