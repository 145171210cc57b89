#pragma once

#include <microhttpd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "daemon/config/config.h"
#include "daemon/http/event_stream.h"
#include "daemon/http/http_routes.h"
#include "daemon/http/site_api.h"
#include "daemon/loop/event_loop.h"

namespace zendrik::daemon {

// What one client may ask of the server, so that a slow or hostile one cannot take it over.
struct HttpLimits {
    std::size_t headerBytes = 8 * 1024;  // the request line and the headers; more: 431
    std::size_t bodyBytes = 64 * 1024;   // more: 413 (or the connection closed, for a chunked body)
    unsigned connections = 64;           // more wait in the kernel's backlog
    std::chrono::seconds idleTimeout{30};
    std::size_t streamBufferBytes = 256 * 1024;  // an event-stream client further behind is dropped
    std::chrono::milliseconds keepAliveInterval{15000};
};

// The daemon's HTTP server: libmicrohttpd driven by the daemon's loop (its epoll descriptor is one
// I/O source, its time-outs one timer; no thread of its own), answering from the site's snapshots
// and commands and streaming the events the site publishes. Throws std::runtime_error when it
// cannot listen or read its certificate.
class HttpServer {
  public:
    HttpServer(EventLoop& loop, const HttpConfig& config, SiteApi& site, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The port it listens on (the one the system chose for port 0).
    uint16_t port() const { return port_; }

    // An event the site stored, for the event stream's clients.
    void PublishEvent(const std::string& reader, uint64_t seq, std::string_view kind, std::string_view json);

    const EventStream& stream() const { return stream_; }
    // The most connections open at once since the start.
    unsigned peakConnections() const { return peakConnections_; }

  private:
    struct Request;
    struct StopDaemon {
        void operator()(MHD_Daemon* daemon) const;
    };

    static MHD_Result OnRequest(void* server, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* upload, std::size_t* uploadSize,
                                void** context);
    static void OnCompleted(void* server, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode why);
    static void OnConnection(void* server, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode what);

    MHD_Result Handle(MHD_Connection* connection, std::string_view url, std::string_view method,
                      const char* upload, std::size_t* uploadSize, void** context);
    // A refusal decided from the request line and the headers, before any body is read.
    std::optional<HttpAnswer> EarlyRefusal(MHD_Connection* connection, std::string_view url,
                                           Request& request);
    // Who sent the request: the holder of its token; nothing for no token or one nobody holds.
    std::optional<HttpIdentity> Identify(MHD_Connection* connection, const Route& route) const;
    Caller CallerOf(MHD_Connection* connection, const Request& request) const;
    MHD_Result Reload(MHD_Connection* connection, const Request& request);
    // 403 for a caller of too low a role, once the body is read: the audit trail records the
    // command with its args as denied.
    MHD_Result Deny(MHD_Connection* connection, const Request& request);
    MHD_Result SendAudit(MHD_Connection* connection);
    MHD_Result Dispatch(MHD_Connection* connection, Request& request);
    MHD_Result RunCommand(MHD_Connection* connection, Request& request);
    MHD_Result AskHistory(MHD_Connection* connection, Request& request);
    MHD_Result OpenStream(MHD_Connection* connection);
    MHD_Result SendConsoleFile(MHD_Connection* connection, const Request& request);
    void Run();
    void ArmTimeout();
    // A resumed connection waits for MHD's next run: the timer makes it the loop's next turn.
    void RunSoon();
    void ResumeAll();

    EventLoop& loop_;
    HttpConfig config_;
    SiteApi& site_;
    HttpLimits limits_;
    std::vector<HttpToken> tokens_;  // [[http.token]] and the single [http] token, as "token"
    std::string certificate_;        // PEM texts, kept while MHD uses them
    std::string key_;
    // Declared before the daemon: MHD's stop releases the requests and stream clients it holds.
    std::unordered_map<uint64_t, std::unique_ptr<Request>> requests_;
    uint64_t nextRequest_ = 0;
    EventStream stream_;
    unsigned connections_ = 0;
    unsigned peakConnections_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // commands' completions look here first
    std::unique_ptr<MHD_Daemon, StopDaemon> daemon_;
    uint16_t port_ = 0;
    bool runSoon_ = false;
    EventSource io_;
    Timer timeout_;
    Timer keepAlive_;
};

}  // namespace zendrik::daemon
