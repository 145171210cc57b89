#pragma once

#include <cstddef>
#include <span>

#include "session/events.h"

// Whole records of a run of events written in the processor's widest stores, for a batch of reads.
namespace zendrik::session {

// Writes one whole record (every record this writer does not write itself).
using RecordWriter = void (*)(const StreamEvent& event, const RecordHead& head, zendrik_event& out);

// The records of `events` into an array of records of `size` bytes each (at least
// sizeof(zendrik_event)): tag records in 32-byte stores where the processor has them (AVX2), every
// other record, and all of them elsewhere, through `writeOther`.
void WriteRecordsWide(std::span<const StreamEvent> events, const RecordHead& head, unsigned char* out,
                      std::size_t size, RecordWriter writeOther);

}  // namespace zendrik::session
