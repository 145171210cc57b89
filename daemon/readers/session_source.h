#pragma once

#include <memory>
#include <string>

#include "daemon/config/config.h"
#include "daemon/readers/reader_source.h"
#include "zendrik/zendrik_session.hpp"

namespace zendrik::daemon {

// A reader session with its inventory running and its events queued for the daemon's loop.
class SessionSource : public ReaderSource {
  public:
    explicit SessionSource(ReaderConfig reader);
    ~SessionSource() override;

    // Opens the reader with ZENDRIK_OPEN_ABSENT_OK: only an address the library cannot open at
    // all is refused, with the library's words.
    std::optional<std::string> Open() override;
    // Starts the inventory, its events queued for the loop.
    std::optional<std::string> Start() override;
    int eventFd() const override;
    bool Next(zendrik_event& event) override;
    std::size_t NextEvents(std::span<zendrik_event> events) override;
    void Stop() override;
    std::variant<uint64_t, int32_t> Submit(const ReaderRequest& request) override;
    // A cut result is asked of the library, which keeps the latest ones whole.
    std::optional<std::string> WholeResult(const zendrik_event& completed) override;
    uint64_t dropped() const override;

  private:
    zendrik_inventory_options InventoryOptions() const;

    struct Closer {
        void operator()(zendrik_reader* reader) const { zendrik_reader_close(reader); }
    };
    ReaderConfig config_;
    std::unique_ptr<zendrik_reader, Closer> reader_;
};

// The library's check of a reader address, for the configuration reader.
std::optional<std::string> CheckReaderAddress(const std::string& address);

// The event as the library writes it, with the daemon's sequence number in it.
std::string EventJson(const zendrik_event& event);

}  // namespace zendrik::daemon
