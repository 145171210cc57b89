#pragma once

// A Link on the simulated USB link, with a reader played by a script: each request takes the next
// scripted answer (a reply frame, or silence), or, once the script is used up, the fallback
// responder. Every wait shows in the FakeClock, so the exchange variant of each attempt can be read
// off its first wait: a reply delivered at once makes an exchange sleep exactly its first wait, a
// silent reader makes it sleep its first wait and then eleven poll waits.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "commands/frequency_plan.h"
#include "commands/short_frame.h"
#include "link/frame.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "zendrik/zendrik.h"

namespace zendrik::testing {

using Bytes = std::vector<uint8_t>;
using Sleeps = std::vector<Milliseconds>;
using namespace std::chrono_literals;

inline constexpr uint8_t kRefused = 201;  // any status other than success
// A reader of the kind whose frequency plan is two setting bytes (layout B).
inline constexpr uint8_t kLayoutBKind = kSettingBytesReaderKind;
inline constexpr std::size_t kUsbPollsAfterFirst = 11;

// A reply frame from the reader at `address`, with the given status and data.
inline Bytes ReplyFrame(uint8_t status, const Bytes& data, uint8_t address = 0) {
    return BuildStandardFrame(address, status, data);
}
inline Bytes OkReply(const Bytes& data = {}) {
    return ReplyFrame(kStatusOk, data);
}

// The sleeps of one USB exchange: answered at once, or never.
inline Sleeps Answered(Milliseconds firstWait) {
    return {firstWait};
}
inline Sleeps Unanswered(Milliseconds firstWait, Milliseconds pollWait = 2ms) {
    Sleeps sleeps{firstWait};
    sleeps.insert(sleeps.end(), kUsbPollsAfterFirst, pollWait);
    return sleeps;
}
inline Sleeps Concat(std::initializer_list<Sleeps> parts) {
    Sleeps all;
    for (const Sleeps& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The request frame a report carried, cut to its own length (standard or short frame).
inline Bytes CutFrame(std::span<const uint8_t> carried) {
    std::size_t length = carried.size();
    if (carried[0] == kStartByte) {
        length = ReplyFrameLength(carried[kOffsetLengthLow]);
    } else if (carried[0] == kShortFrameStart) {
        length = carried[1] + kShortFrameHeader;
    }
    return Bytes(carried.begin(),
                 carried.begin() + static_cast<std::ptrdiff_t>(std::min(length, carried.size())));
}

class FailingSerialOpener final : public SerialPortOpener {
  public:
    SerialOpenResult Open(const std::string&, int32_t) override { return {ZENDRIK_ERR_PORT_OPEN, nullptr}; }
};

// Answers every UDP request with the datagram a test sets, or stays silent.
class ScriptedUdp final : public UdpTransport {
  public:
    std::optional<Bytes> answer;
    std::optional<Datagram> Transact(const UdpEndpoints&, std::span<const uint8_t>,
                                     const UdpTransactionOptions&) override {
        if (!answer) {
            return std::nullopt;
        }
        return Datagram{*answer, 0};
    }
    std::optional<Datagram> Listen(const UdpEndpoints&, const UdpTransactionOptions&) override {
        return std::nullopt;
    }
};

class ReaderFixture {
  public:
    using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

    ReaderFixture() {
        hid.responder = [this](std::span<const uint8_t> carried) { return Answer(CutFrame(carried)); };
    }

    // Queues the answers to the next requests, in order.
    void Then(Bytes reply) { script_.emplace_back(std::move(reply)); }
    void ThenSilence() { script_.emplace_back(std::nullopt); }
    void ThenSilence(int times) {
        for (int i = 0; i < times; ++i) {
            ThenSilence();
        }
    }
    void ThenRefusal() { Then(ReplyFrame(kRefused, {})); }
    // Answers every request once the script is used up.
    void Otherwise(Responder responder) { fallback_ = std::move(responder); }

    const std::vector<Bytes>& requests() const { return requests_; }
    const Sleeps& sleeps() const { return clock.sleeps(); }

    FakeClock clock;
    FakeHid hid{clock};
    ScriptedUdp* udp = nullptr;  // owned by the link
    SwitchingLink link{clock, hid.MakeBackend(), std::make_unique<FailingSerialOpener>(), MakeUdp()};

  private:
    std::unique_ptr<UdpTransport> MakeUdp() {
        auto transport = std::make_unique<ScriptedUdp>();
        udp = transport.get();
        return transport;
    }

    std::optional<Bytes> Answer(const Bytes& request) {
        requests_.push_back(request);
        if (!script_.empty()) {
            // Taken apart by hand: moving the optional<vector> out whole trips a false
            // -Wmaybe-uninitialized in g++ 12 -O2.
            const bool silent = !script_.front().has_value();
            Bytes reply = silent ? Bytes{} : std::move(*script_.front());
            script_.pop_front();
            if (silent) {
                return std::nullopt;
            }
            return reply;
        }
        return fallback_ ? fallback_(request) : std::nullopt;
    }

    std::deque<std::optional<Bytes>> script_;
    Responder fallback_;
    std::vector<Bytes> requests_;
};

}  // namespace zendrik::testing
