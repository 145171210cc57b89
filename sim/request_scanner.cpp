#include "sim/request_scanner.h"

#include <utility>

namespace zendrik::sim {

void RequestScanner::Feed(std::span<const uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

std::vector<ScannedFrame> RequestScanner::TakeFrames() {
    std::vector<ScannedFrame> frames;
    while (!pending_.empty()) {
        const FrameProbe probe = ProbeFrame(pending_);
        if (probe.check == FrameCheck::kNeedMore) {
            break;
        }
        if (probe.check == FrameCheck::kNotAFrame) {
            SkipFront(1);
            continue;
        }
        std::optional<Request> request = ParseRequest(pending_);
        if (!request) {
            SkipFront(1);
            continue;
        }
        frames.push_back(
            {std::vector<uint8_t>(pending_.begin(), pending_.begin() + probe.size), std::move(*request)});
        pending_.erase(pending_.begin(), pending_.begin() + probe.size);
    }
    return frames;
}

void RequestScanner::DropStalled() {
    if (!pending_.empty()) {
        SkipFront(1);
    }
}

std::vector<uint8_t> RequestScanner::TakeSkipped() {
    return std::exchange(skipped_, {});
}

void RequestScanner::SkipFront(std::size_t count) {
    skipped_.insert(skipped_.end(), pending_.begin(), pending_.begin() + count);
    pending_.erase(pending_.begin(), pending_.begin() + count);
}

}  // namespace zendrik::sim
