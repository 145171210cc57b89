#include "session/wide_records.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "session/record_layout.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZENDRIK_WIDE_RECORDS 1
#endif

namespace zendrik::session {
namespace {

void WriteEach(std::span<const StreamEvent> events, const RecordHead& head, unsigned char* next,
               std::size_t size, RecordWriter write) {
    for (const StreamEvent& event : events) {
        write(event, head, *reinterpret_cast<zendrik_event*>(next));
        next += size;
    }
}

}  // namespace

#ifdef ZENDRIK_WIDE_RECORDS
namespace {

// A batch of reads costs what its stores cost: some 500 bytes a tag record. With AVX2 a store
// moves 32 bytes, but one that crosses a 32-byte boundary costs about as much as two. A record
// is 1784 bytes long, so the records of an array start 0, 8, 16 or 24 bytes into a block of 32
// in turn, and the parts of a record meet at 72 and 232 bytes; stored part by part, most stores
// would cross. So each block of 32 that a record's written part covers gets one aligned store,
// put together in registers where two parts meet. The parts meet at multiples of 8 bytes, a
// lane of the register.
constexpr std::ptrdiff_t kBlock = RecordHead::kBlock;
constexpr std::ptrdiff_t kLane = 8;
constexpr int kLanes = kBlock / kLane;
constexpr std::ptrdiff_t kHeadEnd = record::kFieldsStart;
constexpr std::ptrdiff_t kFieldsEnd = record::kFieldsEnd;
constexpr std::ptrdiff_t kFieldsSize = kFieldsEnd - kHeadEnd;
// A tag record's zeros (the result of a request it has none of) end with the terminator of its
// empty json; the block they end in is zeroed to its end, which lies inside the json.
constexpr std::ptrdiff_t kZerosEnd = record::kFixedPart + 1;
static_assert(kHeadEnd % kLane == 0 && kFieldsEnd % kLane == 0 && kFieldsSize >= kBlock);
static_assert(kZerosEnd + kBlock <= static_cast<std::ptrdiff_t>(offsetof(zendrik_event, message)));

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Load(const unsigned char* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

[[gnu::target("avx2"), gnu::always_inline]] inline void Store(unsigned char* at, __m256i block) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), block);
}

// The order of a permutation whose lane i takes lane i + Offset (clamped into the register).
template <int Offset>
constexpr int LaneOrder() {
    int order = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
        const int source = std::min(std::max(lane + Offset, 0), kLanes - 1);
        order |= source << (2 * lane);
    }
    return order;
}

// The blend mask (one bit a 4-byte half lane) that takes lanes [from, to) from the second operand.
constexpr int LaneMask(int from, int to) {
    int mask = 0;
    for (int lane = from; lane < to; ++lane) {
        mask |= 0b11 << (2 * lane);
    }
    return mask;
}

// The block of the record that starts `At` bytes into it (negative: before it).
template <std::ptrdiff_t At>
[[gnu::target("avx2"), gnu::always_inline]] inline void WriteBlock(unsigned char* record,
                                                                   const unsigned char* head,
                                                                   const unsigned char* fields) {
    if constexpr (At < 0) {
        // The record starts inside this block: its first 32 bytes once across the boundary
        // (what lies before the record is not ours); the next block overlaps them.
        Store(record, Load(head));
    } else if constexpr (At + kBlock <= kHeadEnd) {
        Store(record + At, Load(head + At));
    } else if constexpr (At < kHeadEnd) {
        constexpr int kHeadLanes = (kHeadEnd - At) / kLane;
        constexpr int kOrder = LaneOrder<-kHeadLanes>();
        constexpr int kMask = LaneMask(kHeadLanes, kLanes);
        const __m256i fieldsStart = _mm256_permute4x64_epi64(Load(fields), kOrder);
        Store(record + At, _mm256_blend_epi32(Load(head + At), fieldsStart, kMask));
    } else if constexpr (At + kBlock <= kFieldsEnd) {
        Store(record + At, Load(fields + (At - kHeadEnd)));
    } else if constexpr (At < kFieldsEnd) {
        constexpr int kFieldLanes = (kFieldsEnd - At) / kLane;
        constexpr int kOrder = LaneOrder<kLanes - kFieldLanes>();
        constexpr int kMask = LaneMask(0, kFieldLanes);
        const __m256i fieldsEnd = _mm256_permute4x64_epi64(Load(fields + kFieldsSize - kBlock), kOrder);
        Store(record + At, _mm256_blend_epi32(_mm256_setzero_si256(), fieldsEnd, kMask));
    } else {
        Store(record + At, _mm256_setzero_si256());
    }
}

// A tag record that starts `Offset` bytes into a block of 32.
template <std::ptrdiff_t Offset, std::size_t... Block>
[[gnu::target("avx2"), gnu::always_inline]] inline void WriteTagRecord(
    const StreamEvent& event, const RecordHead& head, unsigned char* record,
    std::index_sequence<Block...> /*blocks*/) {
    const auto* fields = reinterpret_cast<const unsigned char*>(&event.fields);
    (WriteBlock<static_cast<std::ptrdiff_t>(Block) * kBlock - Offset>(record, head.bytes.data(), fields),
     ...);
    std::memcpy(record + offsetof(zendrik_event, kind), &event.kind, sizeof event.kind);
    record[offsetof(zendrik_event, message)] = '\0';
}

template <std::ptrdiff_t Offset>
[[gnu::target("avx2"), gnu::always_inline]] inline void WriteTagRecord(const StreamEvent& event,
                                                                       const RecordHead& head,
                                                                       unsigned char* record) {
    WriteTagRecord<Offset>(event, head, record,
                           std::make_index_sequence<(kZerosEnd + Offset + kBlock - 1) / kBlock>{});
}

[[gnu::target("avx2")]] void WriteRecordsAligned(std::span<const StreamEvent> events, const RecordHead& head,
                                                 unsigned char* next, std::size_t size,
                                                 RecordWriter writeOther) {
    for (const StreamEvent& event : events) {
        auto& out = *reinterpret_cast<zendrik_event*>(next);
        const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(next) % kBlock;
        if (event.completion != nullptr) {
            writeOther(event, head, out);
        } else if (offset == 0) {
            WriteTagRecord<0>(event, head, next);
        } else if (offset == kLane) {
            WriteTagRecord<kLane>(event, head, next);
        } else if (offset == 2 * kLane) {
            WriteTagRecord<2 * kLane>(event, head, next);
        } else if (offset == 3 * kLane) {
            WriteTagRecord<3 * kLane>(event, head, next);
        } else {
            writeOther(event, head, out);  // off the alignment of its 8-byte fields
        }
        next += size;
    }
}

bool HasWideRecordStores() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

}  // namespace

void WriteRecordsWide(std::span<const StreamEvent> events, const RecordHead& head, unsigned char* out,
                      std::size_t size, RecordWriter writeOther) {
    if (HasWideRecordStores()) {
        WriteRecordsAligned(events, head, out, size, writeOther);
        return;
    }
    WriteEach(events, head, out, size, writeOther);
}

#else

void WriteRecordsWide(std::span<const StreamEvent> events, const RecordHead& head, unsigned char* out,
                      std::size_t size, RecordWriter writeOther) {
    WriteEach(events, head, out, size, writeOther);
}

#endif

}  // namespace zendrik::session
