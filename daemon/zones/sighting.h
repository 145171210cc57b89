#pragma once

#include <cstdint>
#include <string>

namespace zendrik::daemon {

// One read of a tag as the zones and doors take it: which reader, which tag, when.
struct Sighting {
    std::string reader;
    std::string epc;     // lower-case hex, as the events write it
    std::string card;    // the reader's Wiegand number for it; empty for none
    int64_t timeMs = 0;  // UTC milliseconds
};

}  // namespace zendrik::daemon
