#include "daemon/store/sequence_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace zendrik::daemon {
namespace {

// Each slot's place in the file; room for several hundred readers.
constexpr std::size_t kSlotBytes = 64 * 1024;
constexpr int kSlots = 2;
constexpr const char* kMagic = "zendrik-seq 1";
constexpr const char* kChecksumWord = "crc ";
constexpr const char* kBootIdPath = "/proc/sys/kernel/random/boot_id";
constexpr mode_t kFileMode = 0640;
constexpr uint32_t kCrcPolynomial = 0xEDB88320u;

std::string BootId() {
    std::ifstream file(kBootIdPath);
    std::string id;
    std::getline(file, id);
    return id;
}

// Reader names go in as hex: whatever bytes a name holds, a line stays a line.
std::string Hex(const std::string& bytes) {
    static const char* const kDigits = "0123456789abcdef";
    std::string text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += kDigits[value >> 4];
        text += kDigits[value & 0x0f];
    }
    return text;
}

bool FromHex(const std::string& text, std::string& bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) {
            return false;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

[[noreturn]] void Throw(const std::string& doing, const std::string& path) {
    throw SpoolError(doing + " " + path + ": " + std::strerror(errno));
}

}  // namespace

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? kCrcPolynomial : 0u);
        }
    }
    return ~crc;
}

uint64_t ReserveStep(uint64_t previousStep, uint64_t used, std::chrono::steady_clock::duration usedIn) {
    const uint64_t ceiling = std::clamp(previousStep * kReserveGrowth, kMinReserve, kMaxReserve);
    if (usedIn <= std::chrono::steady_clock::duration::zero()) {
        return used > 0 ? ceiling : kMinReserve;
    }
    // used * period / usedIn, in floating point: the quotient matters only up to the ceiling.
    const double wanted = static_cast<double>(used) * std::chrono::duration<double>(kReservePeriod).count() /
                          std::chrono::duration<double>(usedIn).count();
    if (wanted >= static_cast<double>(ceiling)) {
        return ceiling;
    }
    return std::max(kMinReserve, static_cast<uint64_t>(wanted));
}

SequenceFile::SequenceFile(const std::string& path, ClockReading now)
    : path_(path), bootId_(BootId()), now_(std::move(now)) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd_ < 0) {
        Throw("cannot open", path);
    }
    Read();
    if (found_ == Found::kNew) {
        const int failure = ::posix_fallocate(fd_, 0, static_cast<off_t>(kSlotBytes * kSlots));
        if (failure != 0) {
            errno = failure;
            Throw("cannot allocate", path);
        }
    }
}

SequenceFile::~SequenceFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SequenceFile::Read() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        Throw("cannot read", path_);
    }
    if (info.st_size == 0) {
        found_ = Found::kNew;
        return;
    }
    uint64_t best = 0;
    bool any = false;
    std::map<std::string, uint64_t> bestReserved;
    bool bestClean = true, bestSameBoot = false, bestBehind = false;
    for (int slot = 0; slot < kSlots; ++slot) {
        uint64_t generation = 0;
        if (ReadSlot(slot, generation) && (!any || generation > best)) {
            any = true;
            best = generation;
            bestReserved = reserved_;
            bestClean = clean_;
            bestSameBoot = sameBoot_;
            bestBehind = behind_;
        }
    }
    found_ = any ? Found::kValid : Found::kDamaged;
    generation_ = best;
    reserved_ = bestReserved;
    clean_ = bestClean;
    sameBoot_ = bestSameBoot;
    behind_ = bestBehind;
}

bool SequenceFile::ReadSlot(int slot, uint64_t& generation) {
    std::string bytes(kSlotBytes, '\0');
    const ssize_t got = ::pread(fd_, bytes.data(), bytes.size(), static_cast<off_t>(slot * kSlotBytes));
    if (got <= 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(got));
    const std::size_t checksumAt = bytes.find(std::string("\n") + kChecksumWord);
    if (checksumAt == std::string::npos) {
        return false;
    }
    const std::string body = bytes.substr(0, checksumAt + 1);
    unsigned stored = 0;
    if (std::sscanf(bytes.c_str() + checksumAt + 1 + std::strlen(kChecksumWord), "%8x", &stored) != 1 ||
        stored != Crc32(body)) {
        return false;
    }
    std::istringstream lines(body);
    std::string line;
    if (!std::getline(lines, line) || line != kMagic) {
        return false;
    }
    reserved_.clear();
    std::string boot;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "generation") {
            words >> generation;
        } else if (word == "boot") {
            words >> boot;
        } else if (word == "clean") {
            words >> clean_;
        } else if (word == "behind") {
            words >> behind_;
        } else if (word == "reader") {
            uint64_t reserved = 0;
            std::string hex, name;
            words >> reserved >> hex;
            if (!FromHex(hex, name)) {
                return false;
            }
            reserved_[name] = reserved;
        }
    }
    sameBoot_ = !bootId_.empty() && boot == bootId_;
    return true;
}

uint64_t SequenceFile::ReservedFor(const std::string& reader) const {
    const auto found = reserved_.find(reader);
    return found != reserved_.end() ? found->second : 0;
}

void SequenceFile::Cover(const std::string& reader, uint64_t seq) {
    uint64_t& reserved = reserved_[reader];
    Pace& pace = paces_[reader];
    pace.given = std::max(pace.given, seq);
    if (seq <= reserved) {
        return;
    }
    const Clock::time_point now = now_();
    Reserve(reserved, pace, now);
    TopUpOthers(reader, now);
    Write();
}

// A reader's first range in this run has the least length: its pace is not known yet.
void SequenceFile::Reserve(uint64_t& reserved, Pace& pace, Clock::time_point now) {
    const bool paced = pace.step > 0;
    pace.step =
        paced ? ReserveStep(pace.step, pace.given - pace.usedFrom, now - pace.reservedAt) : kMinReserve;
    reserved = std::max(reserved, pace.given + pace.step - 1);
    pace.usedFrom = pace.given;
    pace.reservedAt = now;
}

// The write is made anyway: every reader of this run that has used more than half of its range
// has it renewed in the same sync, rather than each reader syncing on its own a moment later.
void SequenceFile::TopUpOthers(const std::string& reader, Clock::time_point now) {
    for (auto& [other, pace] : paces_) {
        if (other == reader || pace.given == 0) {
            continue;
        }
        uint64_t& reserved = reserved_[other];
        const uint64_t left = reserved > pace.given ? reserved - pace.given : 0;
        if (left < (pace.step > 0 ? pace.step : kMinReserve) / 2) {
            Reserve(reserved, pace, now);
        }
    }
}

void SequenceFile::BeginRun(const std::map<std::string, uint64_t>& reserved) {
    for (const auto& [reader, last] : reserved) {
        uint64_t& kept = reserved_[reader];
        kept = std::max(kept, last);
    }
    clean_ = false;
    sameBoot_ = true;
    Write();
}

void SequenceFile::SetSpoolBehind(bool behind) {
    if (behind_ != behind) {
        behind_ = behind;
        Write();
    }
}

void SequenceFile::MarkClean() {
    clean_ = true;
    Write();
}

std::string SequenceFile::Render() const {
    std::string body = std::string(kMagic) + "\ngeneration " + std::to_string(generation_) + "\nboot " +
                       (bootId_.empty() ? "-" : bootId_) + "\nclean " + (clean_ ? "1" : "0") + "\nbehind " +
                       (behind_ ? "1" : "0") + "\n";
    for (const auto& [reader, reserved] : reserved_) {
        body += "reader " + std::to_string(reserved) + " " + Hex(reader) + "\n";
    }
    char checksum[32];
    std::snprintf(checksum, sizeof checksum, "%s%08x\n", kChecksumWord, Crc32(body));
    return body + checksum;
}

// The slot not holding the newest state is written, then synced: until the sync has ended the
// other slot is the one a start would read.
void SequenceFile::Write() {
    ++generation_;
    const std::string content = Render();
    if (content.size() > kSlotBytes) {
        throw SpoolError(path_ + " has no room for the sequence numbers of " +
                         std::to_string(reserved_.size()) + " readers");
    }
    const auto offset = static_cast<off_t>((generation_ % kSlots) * kSlotBytes);
    if (::pwrite(fd_, content.data(), content.size(), offset) != static_cast<ssize_t>(content.size())) {
        Throw("cannot write", path_);
    }
    if (::fdatasync(fd_) != 0) {
        Throw("cannot sync", path_);
    }
    ++syncs_;
    found_ = Found::kValid;
}

}  // namespace zendrik::daemon
