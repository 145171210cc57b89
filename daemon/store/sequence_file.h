#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "daemon/store/spool_error.h"

namespace zendrik::daemon {

// Each reader's highest sequence number that may be in use, kept in a small file beside the spool,
// so that a spool lost, truncated or damaged never lets a number be given twice. Numbers are
// reserved in ranges ahead of use and the file is synced before the first number of a range is
// given, so it is written once per range, not per message. A range is as long as the reader's pace
// asks for (see ReserveStep), and a write tops up every other reader whose range is more than half
// used, so that under a steady flood one sync covers the bursts of many seconds and of all readers.
//
// The file holds two slots written in turn, each with a generation and a checksum: a write torn by
// a power failure spoils only the slot being written, and the other one still holds the last good
// state. Besides the reservations a slot says whether the daemon that wrote it stopped cleanly, on
// which boot it ran, and whether the spool fell behind the numbers given (a full disk): on a start
// after a power failure or with the spool behind, the spool cannot be trusted to hold the last
// number that was published.
class SequenceFile {
  public:
    enum class Found {
        kNew,  // no file yet (a first start, or a spool from before this file)
        kValid,
        kDamaged,  // neither slot could be read
    };

    using Clock = std::chrono::steady_clock;
    using ClockReading = std::function<Clock::time_point()>;

    // Opens or creates the file at `path` with both slots allocated (a full disk cannot refuse a
    // later write). Throws SpoolError when it cannot. `now` paces the reservations (tests give a
    // clock of their own).
    explicit SequenceFile(const std::string& path, ClockReading now = Clock::now);
    ~SequenceFile();
    SequenceFile(const SequenceFile&) = delete;
    SequenceFile& operator=(const SequenceFile&) = delete;

    Found found() const { return found_; }
    // As read at opening: the last run stopped cleanly, or ran on this boot (so that what it
    // committed to the spool survived in the page cache).
    bool spoolTrusted() const { return found_ == Found::kValid && !behind_ && (clean_ || sameBoot_); }
    const std::map<std::string, uint64_t>& reserved() const { return reserved_; }
    uint64_t ReservedFor(const std::string& reader) const;

    // Makes sure that `seq` of `reader` is reserved: when it is above the reservation, a range
    // ahead is reserved and on disk before this returns. Throws SpoolError when it cannot write.
    void Cover(const std::string& reader, uint64_t seq);
    // How many times the file was written and synced since it was opened.
    uint64_t syncs() const { return syncs_; }
    // Marks the run as started on this boot and not yet stopped cleanly; `reserved` goes in too.
    void BeginRun(const std::map<std::string, uint64_t>& reserved);
    // The spool holds fewer numbers than were given (true) or has caught up again (false).
    void SetSpoolBehind(bool behind);
    // The spool is closed with everything in it on disk.
    void MarkClean();

  private:
    // How a reader has been using its numbers since its range was last reserved.
    struct Pace {
        uint64_t step = 0;      // the length of its range; 0 until one was reserved in this run
        uint64_t given = 0;     // the highest number covered
        uint64_t usedFrom = 0;  // `given` when the range was reserved
        Clock::time_point reservedAt;
    };
    void Reserve(uint64_t& reserved, Pace& pace, Clock::time_point now);
    void TopUpOthers(const std::string& reader, Clock::time_point now);
    void Read();
    bool ReadSlot(int slot, uint64_t& generation);
    std::string Render() const;
    void Write();

    std::string path_;
    int fd_ = -1;
    Found found_ = Found::kNew;
    uint64_t generation_ = 0;
    std::map<std::string, uint64_t> reserved_;
    bool clean_ = true;
    bool sameBoot_ = false;
    bool behind_ = false;
    std::string bootId_;
    ClockReading now_;
    std::map<std::string, Pace> paces_;
    uint64_t syncs_ = 0;
};

// The length of a reader's next range: what it would use in kReservePeriod at the pace it used
// `used` numbers in `usedIn`, at least kMinReserve and at most kReserveGrowth times the range
// before (`previousStep`) and kMaxReserve. A reader of a few reads a second keeps ranges of
// kMinReserve; one of a thousand a second syncs every ten seconds, not every second. A long range
// costs a longer gap after a power failure (the numbers reserved and never given are then told
// lost, and never given again), so one short burst grows it only so much.
inline constexpr uint64_t kMinReserve = 1000;
inline constexpr uint64_t kMaxReserve = 1u << 20;
inline constexpr uint64_t kReserveGrowth = 8;
inline constexpr std::chrono::seconds kReservePeriod{10};
uint64_t ReserveStep(uint64_t previousStep, uint64_t used, std::chrono::steady_clock::duration usedIn);

// The CRC-32 of zlib and PNG (reflected polynomial 0xEDB88320).
uint32_t Crc32(const std::string& bytes);

}  // namespace zendrik::daemon
