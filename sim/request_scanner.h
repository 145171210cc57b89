#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/request.h"

namespace zendrik::sim {

// A whole request frame cut out of a byte stream: its bytes as received, and what they decode to.
struct ScannedFrame {
    std::vector<uint8_t> bytes;
    Request request;
};

// Cuts request frames out of the serial byte stream. Bytes that cannot start a frame are skipped;
// a candidate that fails its checksum costs only its first byte, so a start byte inside garbage
// never hides the real frame behind it.
class RequestScanner {
  public:
    void Feed(std::span<const uint8_t> bytes);

    // Returns the frames that are complete so far, in order.
    std::vector<ScannedFrame> TakeFrames();

    // The line went quiet with a frame still incomplete: gives up its first byte and scans on,
    // so that a stray start byte whose length promised more bytes does not hold up the next
    // request.
    void DropStalled();

    bool has_pending() const { return !pending_.empty(); }

    // Bytes skipped as not belonging to any valid frame, for the trace.
    std::vector<uint8_t> TakeSkipped();

  private:
    void SkipFront(std::size_t count);

    std::vector<uint8_t> pending_;
    std::vector<uint8_t> skipped_;
};

}  // namespace zendrik::sim
