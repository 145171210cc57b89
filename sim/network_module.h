#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "netmodule/module_search.h"
#include "netmodule/module_settings.h"
#include "sim/fault.h"
#include "sim/reply.h"
#include "sim/request.h"

namespace zendrik::sim {

using ModuleId = std::array<uint8_t, kModuleIdSize>;
using Ipv4Octets = std::array<uint8_t, kModuleAddressSize>;

// The module's settings. The library passes the settings record (18 bytes) and the settings reply
// (22 bytes) through without meaning; this module gives them one:
//   record: module id (6), IPv4 address (4), subnet mask (4), gateway (4)
//   reply:  the record's fields, then the module's UDP port (2, most significant byte first) and
//           two reserved zero bytes.
struct ModuleSettings {
    ModuleId id{};
    Ipv4Octets address{};
    Ipv4Octets mask{};
    Ipv4Octets gateway{};
    uint16_t port = 0;

    bool operator==(const ModuleSettings&) const = default;
};

ModuleSettings DefaultModuleSettings();
std::vector<uint8_t> EncodeModuleSettings(const ModuleSettings& settings);

// A reader's network module: answers the search and the settings requests. A search is answered
// with a standard frame whose data are the settings reply, so that reply bytes 5..10 are the
// module id. A read (0x10) names a module id and a write (0x11) carries one in its record; a module
// answers only its own id and stays silent for others, as it would on a network shared with other
// modules. Anything else gets no answer. Thread-safe (one mutex).
class NetworkModule {
  public:
    explicit NetworkModule(const ModuleSettings& settings = DefaultModuleSettings());

    std::optional<Reply> Answer(std::span<const uint8_t> request);

    ModuleSettings settings() const;
    void SetSettings(const ModuleSettings& settings);

    void AddFault(const FaultRule& rule);
    void ClearFaults();
    // The latest requests received (as many as a reader's log keeps), oldest first.
    std::vector<Request> requests() const;

  private:
    std::optional<std::vector<uint8_t>> Carry(const Request& request);

    mutable std::mutex mutex_;
    ModuleSettings settings_;
    FaultPlan faults_;
    std::deque<Request> log_;
};

}  // namespace zendrik::sim
