// Feeds arbitrary datagrams, as the answers of network modules, to the module search and to the
// settings read and write. Besides the sanitizers' own findings, it stops when a search lists more
// records than probes, lists one module id twice, or records an id that is not the answer's bytes
// 5..10; or when a settings call writes its reply on failure, or on success writes anything but
// answer bytes 5..26 followed by zeros.
//
// Input: flags, then the answers, each one length byte and that many bytes (the last one cut short
// by the end of the input). The first answer that is missing is silence.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/frame.h"
#include "link/switching_link.h"
#include "netmodule/module_search.h"
#include "netmodule/module_settings.h"
#include "tests/support/fake_clock.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t kFlagsSize = 1;
constexpr uint8_t kSentinel = 0x5A;
// Flags: which call runs, and the low byte of every sender's address.
constexpr uint8_t kCallMask = 0x03;
constexpr uint8_t kCallSearch = 0;
constexpr uint8_t kCallRead = 1;
constexpr uint8_t kSenderShift = 2;
constexpr uint32_t kSenderNetwork = 0xC0A80100;  // 192.168.1.0
constexpr std::size_t kAnswerIdOffset = 5;
constexpr std::size_t kAnswerSettingsOffset = 5;

void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// The modules' answers, one per request, cut as a socket cuts them; then silence.
class FeedUdp final : public UdpTransport {
  public:
    FeedUdp(std::deque<Bytes> answers, uint32_t sender) : answers_(std::move(answers)), sender_(sender) {}

    std::optional<Datagram> Transact(const UdpEndpoints&, std::span<const uint8_t>,
                                     const UdpTransactionOptions& options) override {
        if (answers_.empty()) {
            return std::nullopt;
        }
        Bytes answer = std::move(answers_.front());
        answers_.pop_front();
        answer.resize(std::min(answer.size(), options.maxReceive));
        return Datagram{std::move(answer), sender_};
    }
    std::optional<Datagram> Listen(const UdpEndpoints&, const UdpTransactionOptions&) override {
        return std::nullopt;
    }

  private:
    std::deque<Bytes> answers_;
    uint32_t sender_;
};

std::deque<Bytes> SplitAnswers(std::span<const uint8_t> bytes) {
    std::deque<Bytes> answers;
    while (!bytes.empty()) {
        const std::size_t length = std::min<std::size_t>(bytes[0], bytes.size() - 1);
        answers.emplace_back(bytes.begin() + 1, bytes.begin() + 1 + static_cast<std::ptrdiff_t>(length));
        bytes = bytes.subspan(1 + length);
    }
    return answers;
}

// Answer bytes [offset, offset + size), zeros where the answer is shorter.
Bytes Expected(const Bytes& answer, std::size_t offset, std::size_t size) {
    Bytes expected(size, 0);
    for (std::size_t i = 0; i < size && offset + i < answer.size(); ++i) {
        expected[i] = answer[offset + i];
    }
    return expected;
}

bool StartsAFrame(const Bytes& answer) {
    return !answer.empty() && answer.front() == kStartByte;
}

void CheckSearch(SwitchingLink& link, const std::deque<Bytes>& answers) {
    std::vector<ModuleRecord> found;
    const int32_t result = SearchModules(link, ModuleNetwork{}, found);
    Require(result == (found.empty() ? ZENDRIK_ERR_NOT_REACHED : ZENDRIK_OK));
    Require(found.size() <= kMaxSearchProbes);
    // The probes stop at the first answer that does not start a frame; every listed id is the id of
    // one of the answers before it, each listed once.
    std::vector<Bytes> ids;
    for (std::size_t i = 0; i < answers.size() && i < kMaxSearchProbes && StartsAFrame(answers[i]); ++i) {
        ids.push_back(Expected(answers[i], kAnswerIdOffset, kModuleIdSize));
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Bytes id(found[i].id.begin(), found[i].id.end());
        Require(std::find(ids.begin(), ids.end(), id) != ids.end());
        for (std::size_t j = 0; j < i; ++j) {
            Require(found[j].id != found[i].id);
        }
    }
}

void CheckSettings(SwitchingLink& link, bool read, const std::deque<Bytes>& answers) {
    std::array<uint8_t, kModuleSettingsReplySize> reply{};
    reply.fill(kSentinel);
    const std::array<uint8_t, kModuleIdSize> id{1, 2, 3, 4, 5, 6};
    const std::array<uint8_t, kModuleSettingsSize> settings{};
    const int32_t result = read ? ReadModuleSettings(link, ModuleNetwork{}, id, reply)
                                : WriteModuleSettings(link, ModuleNetwork{}, settings, reply);
    const bool answered = !answers.empty() && StartsAFrame(answers.front());
    Require(result == (answered ? ZENDRIK_OK : ZENDRIK_ERR_UDP_NO_REPLY));
    if (answered) {
        Require(Bytes(reply.begin(), reply.end()) ==
                Expected(answers.front(), kAnswerSettingsOffset, kModuleSettingsReplySize));
    } else {
        Require(std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == kSentinel; }));
    }
}

}  // namespace
}  // namespace zendrik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace zendrik;
    if (size < kFlagsSize) {
        return 0;
    }
    const uint8_t flags = data[0];
    const std::deque<Bytes> answers = SplitAnswers(std::span(data + kFlagsSize, size - kFlagsSize));
    testing::FakeClock clock;
    SwitchingLink link(clock, nullptr, nullptr,
                       std::make_unique<FeedUdp>(answers, kSenderNetwork | (flags >> kSenderShift)));
    const uint8_t call = flags & kCallMask;
    if (call == kCallSearch) {
        CheckSearch(link, answers);
    } else {
        CheckSettings(link, call == kCallRead, answers);
    }
    return 0;
}
