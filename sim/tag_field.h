#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace zendrik::sim {

using Epc = std::vector<uint8_t>;

// Longest EPC the reader reports: with the framing bytes of any kind it still fits one USB report.
inline constexpr std::size_t kMaxEpcSize = 52;
// The signal strength byte reported for a tag that was given none.
inline constexpr uint8_t kDefaultSignalStrength = 0xC4;

// A tag as a read reports it: its EPC and the signal strength the reader measured.
struct TagSighting {
    Epc epc;
    uint8_t rssi = kDefaultSignalStrength;

    bool operator==(const TagSighting&) const = default;
};

// The tags in the reader's field. A read does not take a tag away: like a real reader in front of
// tags that stay put, each read reports the next tag, round robin. Tags may also come and go (a
// scene), or be seen just once (a replayed read): such a sighting is reported by the next read, or
// in the next tag list, before the tags that stay.
class TagField {
  public:
    // False (and nothing added) for an empty EPC or one longer than kMaxEpcSize.
    bool Add(std::span<const uint8_t> epc, uint8_t rssi = kDefaultSignalStrength);
    // Like Add, but a tag already in the field is not added twice: it takes the new signal strength.
    bool Enter(std::span<const uint8_t> epc, uint8_t rssi = kDefaultSignalStrength);
    // Takes the tag out of the field; false when it was not there.
    bool Leave(std::span<const uint8_t> epc);
    // False (and nothing kept) for an EPC Add would refuse.
    bool SeeOnce(std::span<const uint8_t> epc, uint8_t rssi = kDefaultSignalStrength);
    void Clear();
    std::vector<Epc> tags() const;

    // The next tag to report: a sighting seen once first, else the next tag in turn; nothing when
    // the field is empty.
    std::optional<TagSighting> Next();

    // The EPCs of one inventory round one after another, as many whole ones as fit `limit` bytes.
    // The sightings seen once are reported here (first) and then forgotten.
    std::vector<uint8_t> TakeRoundIds(std::size_t limit);

  private:
    static bool Fits(std::span<const uint8_t> epc);

    std::vector<TagSighting> tags_;
    std::deque<TagSighting> once_;
    std::size_t next_ = 0;
};

// The tag data of a tag read reply. Kind 2: the tag's PC word, then the EPC (L = EPC length + 2).
// Other kinds: the antenna, the PC word, the EPC, then the signal strength (L = EPC length + 4).
std::vector<uint8_t> TagReplyData(uint8_t kind, std::span<const uint8_t> epc,
                                  uint8_t rssi = kDefaultSignalStrength);

// A made-up EPC of 12 bytes for tag number `index`, for filling the field.
Epc SampleEpc(unsigned index);

}  // namespace zendrik::sim
