#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zendrik/zendrik.h"
#include "link/clock.h"
#include "link/serial_port.h"

namespace zendrik::testing {

// A serial line in simulated time to a reader that answers one request after another: the reply
// to a request written at t arrives `replyDelay` after t, or after the reader has sent its answer
// to the request before, whichever is later. A byte read waits `byteTimeout` for the next byte.
class TimedSerialLine {
  public:
    using Bytes = std::vector<uint8_t>;
    using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

    explicit TimedSerialLine(Clock& clock) : clock_(clock) {}

    Milliseconds byteTimeout{400};
    Milliseconds replyDelay{0};
    Responder responder;
    std::vector<Bytes> writes;

    // Bytes that reach the line at `arrival` on their own, as a late reply or noise would.
    void Arrive(const Bytes& bytes, Clock::TimePoint arrival) {
        for (const uint8_t byte : bytes) {
            line_.push_back({arrival, byte});
        }
    }

    std::unique_ptr<SerialPortOpener> MakeOpener() { return std::make_unique<Opener>(*this); }

  private:
    struct Arrival {
        Clock::TimePoint at;
        uint8_t byte;
    };

    // Takes the next byte that arrives by `deadline`, sleeping until it does.
    std::optional<uint8_t> NextBy(Clock::TimePoint deadline) {
        if (line_.empty() || line_.front().at > deadline) {
            clock_.sleep_until(deadline);
            return std::nullopt;
        }
        clock_.sleep_until(line_.front().at);
        const uint8_t byte = line_.front().byte;
        line_.pop_front();
        return byte;
    }

    void DropArrived() {
        while (!line_.empty() && line_.front().at <= clock_.now()) {
            line_.pop_front();
        }
    }

    class Port final : public SerialPort {
      public:
        explicit Port(TimedSerialLine& line) : line_(line) {}

        void Write(std::span<const uint8_t> bytes) override {
            line_.DropArrived();  // the flush before every request
            const Bytes& request = line_.writes.emplace_back(bytes.begin(), bytes.end());
            if (const std::optional<Bytes> reply =
                    line_.responder ? line_.responder(request) : std::nullopt) {
                line_.busyUntil_ = std::max(line_.clock_.now() + line_.replyDelay, line_.busyUntil_);
                line_.Arrive(*reply, line_.busyUntil_);
            }
        }

        std::optional<uint8_t> ReadByte() override {
            return line_.NextBy(line_.clock_.now() + line_.byteTimeout);
        }

        Milliseconds ByteTimeout() const override { return line_.byteTimeout; }

        bool DropArrivingWithin(Milliseconds timeout) override {
            if (!line_.NextBy(line_.clock_.now() + timeout)) {
                return false;
            }
            line_.DropArrived();
            return true;
        }

      private:
        TimedSerialLine& line_;
    };

    class Opener final : public SerialPortOpener {
      public:
        explicit Opener(TimedSerialLine& line) : line_(line) {}
        SerialOpenResult Open(const std::string&, int32_t) override {
            return {ZENDRIK_OK, std::make_unique<Port>(line_)};
        }

      private:
        TimedSerialLine& line_;
    };

    Clock& clock_;
    std::deque<Arrival> line_;
    Clock::TimePoint busyUntil_{};  // when the reader has sent its latest answer
};

}  // namespace zendrik::testing
