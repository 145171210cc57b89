#pragma once

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/clock.h"
#include "link/hid_backend.h"
#include "link/link.h"

namespace zendrik::testing {

// An in-process HID backend for unit tests. It lists the devices a test gives it, records every
// output report written, and answers each request through a responder, whose reply "arrives" on
// the simulated clock after a delay. Opening a device starts with an empty input queue, as a fresh
// hidraw handle does.
class FakeHid {
  public:
    using Bytes = std::vector<uint8_t>;
    // Given the frame carried by an output report (the 64 bytes after the report id), returns the
    // reply frame to deliver, or nothing to stay silent.
    using Responder = std::function<std::optional<Bytes>(std::span<const uint8_t> request)>;

    explicit FakeHid(Clock& clock) : clock_(clock) {}

    std::vector<HidDeviceInfo> devices{{"/fake/reader", kReaderVendorId, kReaderProductId}};
    std::size_t inputReportLength = 65;
    std::size_t outputReportLength = 65;
    bool failWrites = false;
    int openError = 0;  // opening fails with this errno (EACCES: a node without permission)
    Milliseconds replyDelay{0};
    Responder responder;

    std::vector<Bytes> writtenReports;  // whole reports, report id first
    int enumerations = 0;
    int opens = 0;
    int reads = 0;  // reads that did not wait

    // Queues an input report (64-byte chunk) on the currently open device, arriving at once.
    void Deliver(std::span<const uint8_t> frame) { Schedule(frame, clock_.now()); }

    std::unique_ptr<HidBackend> MakeBackend() { return std::make_unique<Backend>(*this); }

  private:
    struct Scheduled {
        Clock::TimePoint arrival;
        HidChunk chunk;
    };

    void Schedule(std::span<const uint8_t> frame, Clock::TimePoint arrival) {
        Scheduled item{arrival, {}};
        std::copy_n(frame.begin(), std::min(frame.size(), kHidChunkSize), item.chunk.begin());
        pending_.push_back(item);
    }

    class Device final : public HidDevice {
      public:
        explicit Device(FakeHid& owner) : owner_(owner) {}
        std::size_t InputReportLength() const override { return owner_.inputReportLength; }
        std::size_t OutputReportLength() const override { return owner_.outputReportLength; }

        bool WriteReport(std::span<const uint8_t> report) override {
            owner_.writtenReports.emplace_back(report.begin(), report.end());
            if (owner_.failWrites) {
                return false;
            }
            if (owner_.responder) {
                const auto carried = report.subspan(1, std::min(report.size() - 1, kHidChunkSize));
                if (std::optional<Bytes> reply = owner_.responder(carried)) {
                    owner_.Schedule(*reply, owner_.clock_.now() + owner_.replyDelay);
                }
            }
            return true;
        }

        bool ReadChunk(HidChunk& chunk) override {
            ++owner_.reads;
            auto& pending = owner_.pending_;
            if (pending.empty() || pending.front().arrival > owner_.clock_.now()) {
                return false;
            }
            chunk = pending.front().chunk;
            pending.pop_front();
            return true;
        }

        // Sleeps on the simulated clock until the next report arrives or the time-out passes.
        bool ReadChunkWithin(HidChunk& chunk, Milliseconds timeout) override {
            const Clock::TimePoint deadline = owner_.clock_.now() + timeout;
            auto& pending = owner_.pending_;
            if (pending.empty() || pending.front().arrival > deadline) {
                owner_.clock_.sleep_until(deadline);
                return false;
            }
            owner_.clock_.sleep_until(pending.front().arrival);
            chunk = pending.front().chunk;
            pending.pop_front();
            return true;
        }

      private:
        FakeHid& owner_;
    };

    class Backend final : public HidBackend {
      public:
        explicit Backend(FakeHid& owner) : owner_(owner) {}
        std::vector<HidDeviceInfo> Enumerate() override {
            ++owner_.enumerations;
            return owner_.devices;
        }
        std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override {
            if (owner_.openError != 0) {
                errno = owner_.openError;
                return nullptr;
            }
            ++owner_.opens;
            // A fresh handle sees no report that arrived before it; those still on their way reach it.
            std::erase_if(owner_.pending_,
                          [this](const Scheduled& item) { return item.arrival <= owner_.clock_.now(); });
            return std::make_unique<Device>(owner_);
        }

      private:
        FakeHid& owner_;
    };

    Clock& clock_;
    std::deque<Scheduled> pending_;
};

}  // namespace zendrik::testing
