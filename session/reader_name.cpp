#include "session/reader_name.h"

#include <array>

#include "zendrik/zendrik_session.h"

namespace zendrik::session {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

// The well-formed UTF-8 sequences by their lead byte: the range the second byte must lie in
// (narrower than a continuation's after some leads, which shuts out overlong forms, surrogates
// and code points past U+10FFFF) and how many bytes follow the lead.
struct Sequence {
    unsigned char leadLow;
    unsigned char leadHigh;
    unsigned char secondLow;
    unsigned char secondHigh;
    std::size_t following;
};
constexpr std::array<Sequence, 7> kSequences{{
    {0xC2, 0xDF, 0x80, 0xBF, 1},
    {0xE0, 0xE0, 0xA0, 0xBF, 2},
    {0xE1, 0xEC, 0x80, 0xBF, 2},
    {0xED, 0xED, 0x80, 0x9F, 2},
    {0xEE, 0xEF, 0x80, 0xBF, 2},
    {0xF0, 0xF0, 0x90, 0xBF, 3},
    {0xF1, 0xF4, 0x80, 0xBF, 3},
}};
constexpr unsigned char kHighestFourByteLead = 0xF4;
constexpr unsigned char kSecondHighAfterF4 = 0x8F;

bool Within(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// The length of the well-formed sequence at the start of `text`; 0 when there is none.
std::size_t SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    for (const Sequence& sequence : kSequences) {
        if (!Within(lead, sequence.leadLow, sequence.leadHigh)) {
            continue;
        }
        if (text.size() <= sequence.following) {
            return 0;
        }
        const unsigned char secondHigh =
            lead == kHighestFourByteLead ? kSecondHighAfterF4 : sequence.secondHigh;
        if (!Within(static_cast<unsigned char>(text[1]), sequence.secondLow, secondHigh)) {
            return 0;
        }
        for (std::size_t k = 2; k <= sequence.following; ++k) {
            if (!Within(static_cast<unsigned char>(text[k]), kContinuationLow, kContinuationHigh)) {
                return 0;
            }
        }
        return sequence.following + 1;
    }
    return 0;
}

}  // namespace

bool IsValidReaderName(std::string_view name) {
    if (name.empty() || name.size() >= ZENDRIK_READER_ID_CAPACITY) {
        return false;
    }
    while (!name.empty()) {
        const auto byte = static_cast<unsigned char>(name[0]);
        std::size_t length = 1;
        if (byte < kFirstPrintable || byte == kDelete) {
            return false;
        }
        if (byte > kDelete && (length = SequenceLength(name)) == 0) {
            return false;
        }
        name.remove_prefix(length);
    }
    return true;
}

}  // namespace zendrik::session
