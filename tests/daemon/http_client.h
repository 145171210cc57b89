#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zendrik::testing {

struct HttpReply {
    int status = 0;                              // 0: no reply came
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// One TCP connection to 127.0.0.1, kept for as many requests as the server allows (keep-alive).
// Every wait ends after `deadline`, so that a server that does not answer fails the test rather
// than hanging it.
class HttpConnection {
  public:
    explicit HttpConnection(uint16_t port, std::chrono::milliseconds deadline = std::chrono::seconds{10},
                            int receiveBufferBytes = 0);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    bool connected() const { return fd_ >= 0; }
    // False when the server closed the connection or reset it.
    bool Send(std::string_view bytes);
    // Writes a request (with Host and, for a body, Content-Length) and reads its reply.
    HttpReply Request(const std::string& method, const std::string& path,
                      const std::map<std::string, std::string>& headers = {}, const std::string& body = "");
    // The status line and headers of a reply; the body is left to the reads below.
    HttpReply ReadHead();
    // The next chunk of a chunked body; nothing at its end, or when the connection ends.
    std::optional<std::string> ReadChunk();
    // A whole reply to a request made with `method`.
    HttpReply ReadReply(const std::string& method = "GET");
    // Waits until the server closes the connection: true when it did within the deadline.
    bool WaitClosed();
    // Ends both directions, so that a read waiting on another thread returns.
    void Shutdown();

  private:
    bool Fill();
    std::optional<std::string> Line();
    std::optional<std::string> Take(std::size_t count);

    int fd_ = -1;
    std::chrono::milliseconds deadline_;
    std::string buffer_;
};

// One client of GET /api/v1/events, reading on a thread of its own: the frames it got, each with
// the time it arrived, and the comments.
class EventStreamClient {
  public:
    struct Frame {
        std::string id;
        std::string event;
        std::string data;
        std::chrono::steady_clock::time_point received;
    };

    EventStreamClient(uint16_t port, const std::string& path,
                      const std::map<std::string, std::string>& headers);
    ~EventStreamClient();
    EventStreamClient(const EventStreamClient&) = delete;
    EventStreamClient& operator=(const EventStreamClient&) = delete;

    // Waits until `done` holds for the client (true), or its stream ends or 20 s pass (false).
    bool WaitFor(const std::function<bool(const EventStreamClient&)>& done);
    // Inside WaitFor's `done`, or once nothing arrives any more.
    int status() const { return status_; }
    const std::vector<Frame>& frames() const { return frames_; }
    int comments() const { return comments_; }

  private:
    void Read();
    void Parse(const std::string& block);

    HttpConnection connection_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int status_ = 0;
    std::vector<Frame> frames_;
    int comments_ = 0;
    bool ended_ = false;
    std::thread reader_;
};

// Asks `done` again every few milliseconds until it holds (true) or the deadline passes (false).
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds{10});

}  // namespace zendrik::testing
