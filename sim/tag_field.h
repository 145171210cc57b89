#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zendrik::sim {

using Epc = std::vector<uint8_t>;

// Longest EPC the reader reports: with the framing bytes of any kind it still fits one USB report.
inline constexpr std::size_t kMaxEpcSize = 52;

// The tags in the reader's field. A read does not take a tag away: like a real reader in front of
// tags that stay put, each read reports the next tag, round robin.
class TagField {
  public:
    // False (and nothing added) for an empty EPC or one longer than kMaxEpcSize.
    bool Add(std::span<const uint8_t> epc);
    void Clear();
    const std::vector<Epc>& tags() const { return tags_; }

    // The next tag in turn; nothing when the field is empty.
    std::optional<Epc> Next();

    // The EPCs one after another, as many whole ones as fit `limit` bytes.
    std::vector<uint8_t> ConcatenatedIds(std::size_t limit) const;

  private:
    std::vector<Epc> tags_;
    std::size_t next_ = 0;
};

// The tag data of a tag read reply. Kind 2: the tag's PC word, then the EPC (L = EPC length + 2).
// Other kinds: the antenna, the PC word, the EPC, then the signal strength (L = EPC length + 4).
std::vector<uint8_t> TagReplyData(uint8_t kind, std::span<const uint8_t> epc);

// A made-up EPC of 12 bytes for tag number `index`, for filling the field.
Epc SampleEpc(unsigned index);

}  // namespace zendrik::sim
