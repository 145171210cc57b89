#pragma once

#include <memory>
#include <string>

#include "daemon/config.h"
#include "daemon/event_source.h"

namespace zendrik::daemon {

// A reader session with its inventory running and its events queued for the daemon's loop.
class SessionSource : public EventSource {
  public:
    // Opens the reader (also when it does not answer yet: the inventory then starts with
    // link-lost and connects when it can) and starts its inventory. Throws std::runtime_error
    // with the library's words when the address cannot be opened at all.
    explicit SessionSource(const ReaderConfig& reader);
    ~SessionSource() override;

    int eventFd() const override;
    bool Next(zendrik_event& event) override;
    std::optional<ReaderIdentity> Identify() override;
    void Stop() override;
    uint64_t dropped() const override;

  private:
    struct Closer {
        void operator()(zendrik_reader* reader) const { zendrik_reader_close(reader); }
    };
    std::unique_ptr<zendrik_reader, Closer> reader_;
};

// The library's check of a reader address, for the configuration reader.
std::optional<std::string> CheckReaderAddress(const std::string& address);

// The event as the library writes it, with the daemon's sequence number in it.
std::string EventJson(const zendrik_event& event);

}  // namespace zendrik::daemon
