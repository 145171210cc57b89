#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// The tag data buffer of a tag read: reply bytes 5..20, whatever the data length.
inline constexpr std::size_t kTagDataCapacity = 16;
// The identifier buffer of a tag list: reply byte 1 holds at most 255 = 251 + 4.
inline constexpr std::size_t kTagListCapacity = 251;

// Reads one tag: `length` = the reply's data length L, `data` = reply bytes 5..20. When L is below
// 16 the bytes after the tag data are the rest of the reply frame (CRC, end byte) and zeros. On USB
// the reader is given 300 ms to inventory before the reply is polled. A failed exchange is reported
// with its own code, a refusal with result::kStatus; outputs are written only on success.
int32_t ReadTag(Link& link, uint8_t address, std::span<uint8_t, kTagDataCapacity> data, uint8_t& length);

// The same tag read request, judged by its status alone; nothing is handed back.
int32_t ReadId(Link& link, uint8_t address);

// Asks for the reader's tag list (short frame); p1 and p2 go to the reader unchanged. On success
// `count` = reply byte 1 - 4 and ids[0 .. count - 1] = reply bytes 5 onwards. result::kListEmpty,
// with nothing written, when reply byte 1 is below 4; a failed exchange with its own code.
int32_t GetListTagId(Link& link, uint8_t p1, uint8_t p2, uint8_t& count,
                     std::span<uint8_t, kTagListCapacity> ids);

// Tells the reader to stop reading on its own; the exchange's result, the reply is not examined.
int32_t StopAutoReadEpc(Link& link);

}  // namespace zendrik
