#include "daemon/readers/publish_filter.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

// Far more tags than a reader's field holds at once; beyond it, stale entries are dropped.
constexpr std::size_t kRememberedMax = 16384;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0f;

bool StartsWithAny(const std::string& text, const std::vector<std::string>& prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; });
}

uint32_t KindBit(int32_t kind) {
    switch (kind) {
        case ZENDRIK_EVENT_READ:
            return kPublishRead;
        case ZENDRIK_EVENT_ARRIVED:
            return kPublishArrived;
        case ZENDRIK_EVENT_DEPARTED:
            return kPublishDeparted;
        case ZENDRIK_EVENT_LINK_LOST:
            return kPublishLinkLost;
        case ZENDRIK_EVENT_LINK_RESTORED:
        case ZENDRIK_EVENT_LINK_UP:
            return kPublishLinkRestored;
        default:
            return kPublishAll;  // nothing a configuration can leave out
    }
}

bool IsTagEvent(int32_t kind) {
    return kind == ZENDRIK_EVENT_READ || kind == ZENDRIK_EVENT_ARRIVED || kind == ZENDRIK_EVENT_DEPARTED;
}

}  // namespace

std::string EpcHex(const zendrik_event& event) {
    const std::size_t length = std::min<std::size_t>(event.epc_length, sizeof event.epc);
    std::string hex;
    hex.reserve(2 * length);
    for (std::size_t i = 0; i < length; ++i) {
        hex.push_back(kHexDigits[event.epc[i] >> kNibbleBits]);
        hex.push_back(kHexDigits[event.epc[i] & kNibbleMask]);
    }
    return hex;
}

PublishFilter::PublishFilter(const ReaderConfig& config)
    : kinds_(config.publish),
      readIntervalMs_(config.readIntervalMs),
      include_(config.epcInclude),
      exclude_(config.epcExclude) {}

bool PublishFilter::Passes(const zendrik_event& event) {
    const bool wanted = (kinds_ & KindBit(event.kind)) != 0;
    if (!IsTagEvent(event.kind)) {
        return wanted;
    }
    // A departure is looked at even when departures are not published: it ends the tag's interval.
    if (!wanted && event.kind != ZENDRIK_EVENT_DEPARTED) {
        return false;
    }
    const bool byEpc = !include_.empty() || !exclude_.empty();
    if (!byEpc && readIntervalMs_ == 0) {
        return wanted;
    }
    const std::string epc = EpcHex(event);
    if (byEpc && !EpcPasses(epc)) {
        return false;
    }
    if (event.kind == ZENDRIK_EVENT_DEPARTED) {
        lastPublished_.erase(epc);
        return wanted;
    }
    if (event.kind == ZENDRIK_EVENT_READ && readIntervalMs_ > 0) {
        return ReadIntervalPasses(epc, event.time_ms);
    }
    return true;
}

bool PublishFilter::EpcPasses(const std::string& epcHex) const {
    return (include_.empty() || StartsWithAny(epcHex, include_)) && !StartsWithAny(epcHex, exclude_);
}

bool PublishFilter::ReadIntervalPasses(const std::string& epcHex, int64_t timeMs) {
    const auto last = lastPublished_.find(epcHex);
    if (last != lastPublished_.end() && timeMs - last->second < static_cast<int64_t>(readIntervalMs_) &&
        timeMs >= last->second) {
        return false;
    }
    if (last == lastPublished_.end() && lastPublished_.size() >= kRememberedMax) {
        ForgetOlderThan(timeMs - static_cast<int64_t>(readIntervalMs_));
    }
    lastPublished_[epcHex] = timeMs;
    return true;
}

void PublishFilter::ForgetOlderThan(int64_t timeMs) {
    std::erase_if(lastPublished_, [&](const auto& entry) { return entry.second <= timeMs; });
    // Every entry is recent (that many tags within one interval): all are forgotten, and the next
    // read of each passes once more.
    if (lastPublished_.size() >= kRememberedMax) {
        lastPublished_.clear();
    }
}

}  // namespace zendrik::daemon
