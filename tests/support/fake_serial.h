#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zendrik/zendrik.h"
#include "link/serial_port.h"

namespace zendrik::testing {

// A scripted serial line for unit tests. Every byte read takes the next event of the script, a
// byte or a time-out; a script that has run out reads as time-outs. The opener hands out ports on
// this line, refuses the paths a test names, and logs every open and close in order.
class FakeSerialLine {
  public:
    using Bytes = std::vector<uint8_t>;
    using Event = std::optional<uint8_t>;

    std::deque<Event> script;
    std::map<std::string, int32_t> refusals;  // device path -> OpenCom failure code
    std::vector<Bytes> writes;
    std::vector<std::string> log;  // "open <path> <baud>", "close <path>"
    int reads = 0;

    void Send(std::span<const uint8_t> bytes) { script.insert(script.end(), bytes.begin(), bytes.end()); }
    void Silence(int reads) { script.insert(script.end(), static_cast<std::size_t>(reads), std::nullopt); }

    std::unique_ptr<SerialPortOpener> MakeOpener() { return std::make_unique<Opener>(*this); }

  private:
    class Port final : public SerialPort {
      public:
        Port(FakeSerialLine& line, std::string path) : line_(line), path_(std::move(path)) {}
        ~Port() override { line_.log.push_back("close " + path_); }
        Port(const Port&) = delete;
        Port& operator=(const Port&) = delete;

        void Write(std::span<const uint8_t> bytes) override {
            line_.writes.emplace_back(bytes.begin(), bytes.end());
        }

        Milliseconds ByteTimeout() const override { return Milliseconds::zero(); }
        bool DropArrivingWithin(Milliseconds) override { return false; }

        std::optional<uint8_t> ReadByte() override {
            ++line_.reads;
            if (line_.script.empty()) {
                return std::nullopt;
            }
            const Event event = line_.script.front();
            line_.script.pop_front();
            return event;
        }

      private:
        FakeSerialLine& line_;
        std::string path_;
    };

    class Opener final : public SerialPortOpener {
      public:
        explicit Opener(FakeSerialLine& line) : line_(line) {}
        SerialOpenResult Open(const std::string& devicePath, int32_t baud) override {
            if (const auto refusal = line_.refusals.find(devicePath); refusal != line_.refusals.end()) {
                return {refusal->second, nullptr};
            }
            line_.log.push_back("open " + devicePath + " " + std::to_string(baud));
            return {ZENDRIK_OK, std::make_unique<Port>(line_, devicePath)};
        }

      private:
        FakeSerialLine& line_;
    };
};

}  // namespace zendrik::testing
