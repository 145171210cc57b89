#include "sim/tag_field.h"

#include <algorithm>
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
// Antenna, the PC word and the signal strength around the EPC.
constexpr std::size_t kTagReplyExtraBytes = 4;

// Sample EPCs: a fixed 10-byte prefix, then the tag number in two bytes, most significant first.
constexpr std::array<uint8_t, 10> kSampleEpcPrefix{0xE2, 0x00, 0x34, 0x12, 0x01,
                                                   0x37, 0x60, 0x00, 0x00, 0x00};

}  // namespace

bool TagField::Fits(std::span<const uint8_t> epc) {
    return !epc.empty() && epc.size() <= kMaxEpcSize;
}

bool TagField::Add(std::span<const uint8_t> epc, uint8_t rssi) {
    if (!Fits(epc)) {
        return false;
    }
    tags_.push_back(TagSighting{Epc(epc.begin(), epc.end()), rssi});
    return true;
}

bool TagField::Enter(std::span<const uint8_t> epc, uint8_t rssi) {
    const auto present = std::find_if(tags_.begin(), tags_.end(), [epc](const TagSighting& tag) {
        return std::equal(tag.epc.begin(), tag.epc.end(), epc.begin(), epc.end());
    });
    if (present == tags_.end()) {
        return Add(epc, rssi);
    }
    present->rssi = rssi;
    return true;
}

bool TagField::Leave(std::span<const uint8_t> epc) {
    const auto present = std::find_if(tags_.begin(), tags_.end(), [epc](const TagSighting& tag) {
        return std::equal(tag.epc.begin(), tag.epc.end(), epc.begin(), epc.end());
    });
    if (present == tags_.end()) {
        return false;
    }
    // The tags after the one that left move up a place: the turn stays with the tag that had it.
    const auto index = static_cast<std::size_t>(present - tags_.begin());
    tags_.erase(present);
    if (index < next_) {
        --next_;
    }
    next_ = tags_.empty() ? 0 : next_ % tags_.size();
    return true;
}

bool TagField::SeeOnce(std::span<const uint8_t> epc, uint8_t rssi) {
    if (!Fits(epc)) {
        return false;
    }
    once_.push_back(TagSighting{Epc(epc.begin(), epc.end()), rssi});
    return true;
}

void TagField::Clear() {
    tags_.clear();
    once_.clear();
    next_ = 0;
}

std::vector<Epc> TagField::tags() const {
    std::vector<Epc> epcs;
    epcs.reserve(tags_.size());
    for (const TagSighting& tag : tags_) {
        epcs.push_back(tag.epc);
    }
    return epcs;
}

std::optional<TagSighting> TagField::Next() {
    if (!once_.empty()) {
        TagSighting sighting = std::move(once_.front());
        once_.pop_front();
        return sighting;
    }
    if (tags_.empty()) {
        return std::nullopt;
    }
    const TagSighting& tag = tags_[next_ % tags_.size()];
    next_ = (next_ + 1) % tags_.size();
    return tag;
}

std::vector<uint8_t> TagField::TakeRoundIds(std::size_t limit) {
    std::vector<uint8_t> ids;
    const auto append = [&ids, limit](const TagSighting& tag) {
        if (ids.size() + tag.epc.size() > limit) {
            return false;
        }
        ids.insert(ids.end(), tag.epc.begin(), tag.epc.end());
        return true;
    };
    // Sightings that do not fit this round are gone all the same: a round reports what it can.
    const bool roomLeft = std::all_of(once_.begin(), once_.end(), append);
    once_.clear();
    if (roomLeft) {
        std::all_of(tags_.begin(), tags_.end(), append);
    }
    return ids;
}

std::vector<uint8_t> TagReplyData(uint8_t kind, std::span<const uint8_t> epc, uint8_t rssi) {
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
        data.push_back(rssi);
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
