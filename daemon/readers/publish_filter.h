#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "daemon/config/config.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// Decides which of a reader's events are published: the kinds the configuration names, tags whose
// EPC starts with an included prefix and with no excluded one, and at most one read per EPC in the
// read interval. What does not pass never enters the spool; a tag that does not pass the EPC
// prefixes has no presence either (its arrived and departed are left out with its reads).
class PublishFilter {
  public:
    explicit PublishFilter(const ReaderConfig& config);

    bool Passes(const zendrik_event& event);

    // EPCs whose last published read is remembered for the read interval.
    std::size_t remembered() const { return lastPublished_.size(); }

  private:
    bool EpcPasses(const std::string& epcHex) const;
    bool ReadIntervalPasses(const std::string& epcHex, int64_t timeMs);
    void ForgetOlderThan(int64_t timeMs);

    uint32_t kinds_;
    uint32_t readIntervalMs_;
    std::vector<std::string> include_;
    std::vector<std::string> exclude_;
    // EPC -> time of its last published read. A tag's entry goes when it departs; past
    // kRememberedMax entries those older than the interval are forgotten, so that a stream of
    // ever new tags cannot grow it without bound.
    std::unordered_map<std::string, int64_t> lastPublished_;
};

// The EPC of an event as lower-case hex, as the events write it.
std::string EpcHex(const zendrik_event& event);

}  // namespace zendrik::daemon
