#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/store/spool.h"

namespace zendrik::daemon {

// What a batch may hold: reads, the whole PUBLISH packet's bytes, and how long its first read
// waits for company.
struct BatchLimits {
    std::size_t reads = 1;  // 1: every read alone, no batches
    std::size_t packetBytes = 0;
    std::chrono::milliseconds wait{0};
    bool mqtt5 = true;
};

// The largest batch message: a broker far below it is told by its Maximum Packet Size (or by
// max_message_bytes), and a consumer need not hold more than this of one reader at once.
inline constexpr std::size_t kBatchPacketBytesMost = 256 * 1024;

// Where a message handed over goes, given the open batch of its reader (if any).
enum class Placement {
    kJoin,           // into the reader's open batch, or a new one
    kCloseAndJoin,   // the open batch is full for it: it goes out, the read begins the next
    kCloseAndAlone,  // the open batch goes out first, then this message on its own
    kAlone,          // on its own; the reader has no open batch
};

// The decision, on its own: `isRead` for a message of a reads topic, `readBytes` its payload,
// `openReads`/`openPayloadBytes` what the reader's open batch holds (0: none), `topicBytes`.
Placement PlaceMessage(bool isRead, std::size_t readBytes, std::size_t openReads,
                       std::size_t openPayloadBytes, std::size_t topicBytes, const std::string& reader,
                       const BatchLimits& limits);

// The payload of a batch around its reads' JSON texts (joined with commas), and its size before
// the reads for a reader whose numbers have at most 20 digits.
std::string BatchPayload(const std::string& reader, uint64_t firstSeq, uint64_t lastSeq,
                         const std::string& reads);
std::size_t BatchFrameBytes(const std::string& reader);

// A message ready for the broker: one spool row, or a batch of one reader's reads.
struct Outgoing {
    std::string topic;
    std::string payload;
    std::string reader;
    uint64_t firstSeq = 0;
    uint64_t lastSeq = 0;
    std::vector<int64_t> rows;  // oldest first
    bool batch = false;
};

// Gathers the rows handed over into each reader's batch of reads. A reader's messages leave in
// the order of its sequence numbers: a batch holds an unbroken run of its reads, and any other
// event of the reader (which shares the reads' sequence) first sends the open batch, then itself.
// A batch goes when it holds `reads` reads, when the next read would take it over `packetBytes`,
// or `wait` after its first read came.
class ReadBatches {
  public:
    using Clock = std::chrono::steady_clock;

    void SetLimits(const BatchLimits& limits) { limits_ = limits; }
    const BatchLimits& limits() const { return limits_; }

    void Add(SpooledMessage message, bool isRead, Clock::time_point now);
    // Sends every batch whose wait has run out by `now`.
    void CloseDue(Clock::time_point now);
    // When the oldest open batch is due; nothing when none is open.
    std::optional<Clock::time_point> NextDue() const;

    bool hasReady() const { return !ready_.empty(); }
    // The oldest message ready, taken out (only when hasReady()).
    Outgoing TakeReady();
    // Rows held here, in open batches or ready.
    std::size_t rows() const { return rows_; }
    // Everything held is forgotten (its rows go back to the spool with the connection).
    void Clear();

  private:
    struct Open {
        Outgoing out;
        Clock::time_point due;
    };
    void Close(std::map<std::string, Open>::iterator open);

    BatchLimits limits_;
    std::map<std::string, Open> open_;  // by reader
    std::deque<Outgoing> ready_;
    std::size_t rows_ = 0;
};

}  // namespace zendrik::daemon
