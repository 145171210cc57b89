#include "netmodule/module_search.h"

#include <algorithm>
#include <optional>

#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// The module id follows the answer's header, where a reply frame's data begins.
constexpr std::size_t kAnswerOffsetModuleId = kOffsetData;

ModuleRecord RecordFromAnswer(const Datagram& answer) {
    ModuleRecord record;
    CopyAnswerBytes(answer, kAnswerOffsetModuleId, record.id);
    for (std::size_t octet = 0; octet < kModuleAddressSize; ++octet) {
        const unsigned shift = 8 * static_cast<unsigned>(kModuleAddressSize - 1 - octet);
        record.address[octet] = static_cast<uint8_t>((answer.senderIpv4 >> shift) & 0xFFu);
    }
    return record;
}

std::optional<ModuleRecord> SearchProbe(SwitchingLink& link, const ModuleNetwork& network) {
    const std::vector<uint8_t> request = BuildStandardFrame(kBroadcastAddress, command::kModuleSearch, {});
    Datagram answer;
    if (ModuleTransaction(link, network, request, answer) != result::kOk) {
        return std::nullopt;
    }
    return RecordFromAnswer(answer);
}

bool SameModule(const ModuleRecord& left, const ModuleRecord& right) {
    return left.id == right.id;
}

}  // namespace

int32_t SearchModules(SwitchingLink& link, const ModuleNetwork& network, std::vector<ModuleRecord>& found) {
    found.clear();
    for (std::size_t probe = 0; probe < kMaxSearchProbes; ++probe) {
        const std::optional<ModuleRecord> record = SearchProbe(link, network);
        if (!record) {
            break;
        }
        const auto sameId = [&](const ModuleRecord& listed) { return SameModule(listed, *record); };
        if (std::none_of(found.begin(), found.end(), sameId)) {
            found.push_back(*record);
        }
    }
    return found.empty() ? result::kNotReached : result::kOk;
}

}  // namespace zendrik
