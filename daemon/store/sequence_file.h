#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "daemon/store/spool_error.h"

namespace zendrik::daemon {

// Each reader's highest sequence number that may be in use, kept in a small file beside the spool,
// so that a spool lost, truncated or damaged never lets a number be given twice. Numbers are
// reserved in ranges ahead of use and the file is synced before the first number of a range is
// given, so it is written once per range, not per message.
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

    // Opens or creates the file at `path` with both slots allocated (a full disk cannot refuse a
    // later write). Throws SpoolError when it cannot.
    explicit SequenceFile(const std::string& path);
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
    // Marks the run as started on this boot and not yet stopped cleanly; `reserved` goes in too.
    void BeginRun(const std::map<std::string, uint64_t>& reserved);
    // The spool holds fewer numbers than were given (true) or has caught up again (false).
    void SetSpoolBehind(bool behind);
    // The spool is closed with everything in it on disk.
    void MarkClean();

  private:
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
};

// The CRC-32 of zlib and PNG (reflected polynomial 0xEDB88320).
uint32_t Crc32(const std::string& bytes);

}  // namespace zendrik::daemon
