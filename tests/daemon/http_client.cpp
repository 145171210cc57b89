#include "tests/daemon/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "tests/support/loopback.h"

namespace zendrik::testing {
namespace {

constexpr std::size_t kReadBytes = 16 * 1024;
constexpr auto kStreamWait = std::chrono::seconds{20};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

HttpConnection::HttpConnection(uint16_t port, std::chrono::milliseconds deadline, int receiveBufferBytes)
    : deadline_(deadline) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    if (receiveBufferBytes > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    const sockaddr_in address = Loopback(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

HttpConnection::~HttpConnection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool HttpConnection::Send(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return fd_ >= 0;
}

bool HttpConnection::Fill() {
    if (fd_ < 0) {
        return false;
    }
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(deadline_.count())) <= 0) {
        return false;
    }
    char bytes[kReadBytes];
    const ssize_t count = ::recv(fd_, bytes, sizeof bytes, 0);
    if (count <= 0) {
        return false;
    }
    buffer_.append(bytes, static_cast<std::size_t>(count));
    return true;
}

std::optional<std::string> HttpConnection::Line() {
    std::size_t end;
    while ((end = buffer_.find("\r\n")) == std::string::npos) {
        if (!Fill()) {
            return std::nullopt;
        }
    }
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 2);
    return line;
}

std::optional<std::string> HttpConnection::Take(std::size_t count) {
    while (buffer_.size() < count) {
        if (!Fill()) {
            return std::nullopt;
        }
    }
    std::string taken = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return taken;
}

HttpReply HttpConnection::ReadHead() {
    HttpReply reply;
    const std::optional<std::string> status = Line();
    if (!status || status->size() < 12 || status->rfind("HTTP/1.", 0) != 0) {
        return reply;
    }
    reply.status = std::atoi(status->c_str() + 9);
    for (std::optional<std::string> line = Line(); line && !line->empty(); line = Line()) {
        const std::size_t colon = line->find(':');
        if (colon != std::string::npos) {
            const std::size_t value = line->find_first_not_of(' ', colon + 1);
            reply.headers[Lower(line->substr(0, colon))] =
                value == std::string::npos ? "" : line->substr(value);
        }
    }
    return reply;
}

std::optional<std::string> HttpConnection::ReadChunk() {
    const std::optional<std::string> size = Line();
    if (!size) {
        return std::nullopt;
    }
    const std::size_t count = std::strtoul(size->c_str(), nullptr, 16);
    if (count == 0) {
        Line();  // the empty line after the last chunk
        return std::nullopt;
    }
    std::optional<std::string> chunk = Take(count);
    Line();
    return chunk;
}

HttpReply HttpConnection::ReadReply(const std::string& method) {
    HttpReply reply = ReadHead();
    if (reply.status == 0 || method == "HEAD") {
        return reply;
    }
    if (reply.headers["transfer-encoding"] == "chunked") {
        while (std::optional<std::string> chunk = ReadChunk()) {
            reply.body += *chunk;
        }
    } else if (reply.headers.count("content-length") != 0) {
        reply.body = Take(std::strtoul(reply.headers["content-length"].c_str(), nullptr, 10)).value_or("");
    } else {
        while (Fill()) {
        }
        reply.body = std::move(buffer_);
        buffer_.clear();
    }
    return reply;
}

HttpReply HttpConnection::Request(const std::string& method, const std::string& path,
                                  const std::map<std::string, std::string>& headers,
                                  const std::string& body) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) {
        request += name + ": " + value + "\r\n";
    }
    if (!body.empty()) {
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n" + body;
    if (!Send(request)) {
        return {};
    }
    return ReadReply(method);
}

bool HttpConnection::WaitClosed() {
    const auto until = std::chrono::steady_clock::now() + deadline_;
    while (std::chrono::steady_clock::now() < until) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(deadline_.count())) <= 0) {
            return false;
        }
        char bytes[kReadBytes];
        const ssize_t count = ::recv(fd_, bytes, sizeof bytes, 0);
        if (count == 0 || (count < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
    return false;
}

EventStreamClient::EventStreamClient(uint16_t port, const std::string& path,
                                     const std::map<std::string, std::string>& headers)
    : connection_(port) {
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) {
        request += name + ": " + value + "\r\n";
    }
    connection_.Send(request + "\r\n");
    reader_ = std::thread([this] { Read(); });
}

EventStreamClient::~EventStreamClient() {
    connection_.Shutdown();
    reader_.join();
}

bool EventStreamClient::WaitFor(const std::function<bool(const EventStreamClient&)>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kStreamWait, [&] { return done(*this) || ended_; }) && done(*this);
}

void EventStreamClient::Read() {
    const HttpReply head = connection_.ReadHead();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = head.status;
    }
    changed_.notify_all();
    std::string text;
    while (std::optional<std::string> chunk = connection_.ReadChunk()) {
        text += *chunk;
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t end; (end = text.find("\n\n")) != std::string::npos; text.erase(0, end + 2)) {
            Parse(text.substr(0, end));
        }
        changed_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

void EventStreamClient::Parse(const std::string& block) {
    Frame frame;
    frame.received = std::chrono::steady_clock::now();
    std::istringstream lines(block);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(": ", 0) == 0) {
            ++comments_;
        } else if (line.rfind("id: ", 0) == 0) {
            frame.id = line.substr(4);
        } else if (line.rfind("event: ", 0) == 0) {
            frame.event = line.substr(7);
        } else if (line.rfind("data: ", 0) == 0) {
            frame.data += line.substr(6);
        }
    }
    if (!frame.id.empty()) {
        frames_.push_back(std::move(frame));
    }
}

void HttpConnection::Shutdown() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    constexpr auto kPoll = std::chrono::milliseconds{5};
    for (const auto until = std::chrono::steady_clock::now() + deadline; !done();
         std::this_thread::sleep_for(kPoll)) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
    }
    return true;
}

}  // namespace zendrik::testing
