#include "sim/tag_field.h"

#include <array>

#include "rules/wire_bytes.h"
#include "sim/reader_settings.h"

namespace zendrik::sim {
namespace {

// The PC word's top five bits give the EPC length in 16-bit words.
constexpr unsigned kPcLengthShift = 11;
constexpr std::size_t kBytesPerWord = 2;
using rules::kBitsPerByte;
using rules::kByteMask;
constexpr uint8_t kAntenna = 1;
constexpr uint8_t kSignalStrength = 0xC4;
// Antenna, the PC word and the signal strength around the EPC.
constexpr std::size_t kTagReplyExtraBytes = 4;

// Sample EPCs: a fixed 10-byte prefix, then the tag number in two bytes, most significant first.
constexpr std::array<uint8_t, 10> kSampleEpcPrefix{0xE2, 0x00, 0x34, 0x12, 0x01,
                                                   0x37, 0x60, 0x00, 0x00, 0x00};

}  // namespace

bool TagField::Add(std::span<const uint8_t> epc) {
    if (epc.empty() || epc.size() > kMaxEpcSize) {
        return false;
    }
    tags_.emplace_back(epc.begin(), epc.end());
    return true;
}

void TagField::Clear() {
    tags_.clear();
    next_ = 0;
}

std::optional<Epc> TagField::Next() {
    if (tags_.empty()) {
        return std::nullopt;
    }
    const Epc& tag = tags_[next_ % tags_.size()];
    next_ = (next_ + 1) % tags_.size();
    return tag;
}

std::vector<uint8_t> TagField::ConcatenatedIds(std::size_t limit) const {
    std::vector<uint8_t> ids;
    for (const Epc& tag : tags_) {
        if (ids.size() + tag.size() > limit) {
            break;
        }
        ids.insert(ids.end(), tag.begin(), tag.end());
    }
    return ids;
}

std::vector<uint8_t> TagReplyData(uint8_t kind, std::span<const uint8_t> epc) {
    const std::size_t words = (epc.size() + kBytesPerWord - 1) / kBytesPerWord;
    const unsigned pc = static_cast<unsigned>(words << kPcLengthShift);
    const uint8_t pcHigh = static_cast<uint8_t>((pc >> kBitsPerByte) & kByteMask);
    const uint8_t pcLow = static_cast<uint8_t>(pc & kByteMask);
    // Kinds other than the channel-list kind put the antenna before the PC word and the signal
    // strength after the EPC. Reserved at once: a vector assigned its first bytes and then grown
    // by an insert draws a false -Warray-bounds from GCC 12 at -O3.
    const bool antennaAndSignal = kind != kKindChannelList;
    std::vector<uint8_t> data;
    data.reserve(epc.size() + kTagReplyExtraBytes);
    if (antennaAndSignal) {
        data.push_back(kAntenna);
    }
    data.push_back(pcHigh);
    data.push_back(pcLow);
    data.insert(data.end(), epc.begin(), epc.end());
    if (antennaAndSignal) {
        data.push_back(kSignalStrength);
    }
    return data;
}

Epc SampleEpc(unsigned index) {
    Epc epc(kSampleEpcPrefix.begin(), kSampleEpcPrefix.end());
    epc.push_back(static_cast<uint8_t>((index >> kBitsPerByte) & kByteMask));
    epc.push_back(static_cast<uint8_t>(index & kByteMask));
    return epc;
}

}  // namespace zendrik::sim
