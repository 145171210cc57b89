#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_backend.h"
#include "link/unique_fd.h"

namespace zendrik::testing {

// A virtual HID device on a Unix SOCK_SEQPACKET socket, served by a thread of its own: greets every
// connection with its hello, serves the newest connection, records every output report and answers
// each with the input reports its responder gives (none for silence).
class HidSocketPeer {
  public:
    using Bytes = std::vector<uint8_t>;
    // Given the 64 bytes after the report id of an output report, the frames to send back.
    using Responder = std::function<std::vector<Bytes>(std::span<const uint8_t> carried)>;

    struct Options {
        Bytes hello;        // sent as one message on every new connection
        bool greet = true;  // false: accept connections but never say hello
        Responder responder;
        // Greets every other connection only, closing the rest at once: each locate lists the
        // device and then fails to open it, like a hidraw node without permission.
        bool refuseOpens = false;
    };

    HidSocketPeer(std::string path, Options options) : path_(std::move(path)), options_(std::move(options)) {
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path_.c_str(), std::min(path_.size(), sizeof(address.sun_path) - 1));
        bound_ = ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                 ::listen(listener_.get(), kBacklog) == 0;
        int pipeEnds[2] = {-1, -1};
        if (::pipe2(pipeEnds, O_CLOEXEC) == 0) {
            stopRead_ = UniqueFd(pipeEnds[0]);
            stopWrite_ = UniqueFd(pipeEnds[1]);
        }
        thread_ = std::thread([this] { Serve(); });
    }

    ~HidSocketPeer() { Stop(); }
    HidSocketPeer(const HidSocketPeer&) = delete;
    HidSocketPeer& operator=(const HidSocketPeer&) = delete;

    bool bound() const { return bound_; }

    // The device goes away: its socket and every connection close.
    void Stop() {
        if (!thread_.joinable()) {
            return;
        }
        const uint8_t wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopWrite_.get(), &wake, 1);
        thread_.join();
        connection_.reset();
        listener_.reset();
        ::unlink(path_.c_str());
    }

    // Waits (in real time, bounded) until `count` output reports have been answered.
    bool AwaitHandled(int count) {
        std::unique_lock lock(mutex_);
        return handledChanged_.wait_for(lock, kAwaitLimit, [&] { return handled_ >= count; });
    }

    std::vector<Bytes> reports() const {
        const std::lock_guard lock(mutex_);
        return reports_;
    }

    int connections() const {
        const std::lock_guard lock(mutex_);
        return connections_;
    }

  private:
    static constexpr int kBacklog = 8;
    static constexpr std::size_t kMessageLimit = 4096;
    static constexpr std::size_t kChunk = 64;
    static constexpr auto kAwaitLimit = std::chrono::seconds(5);

    std::size_t InputReportLength() const {
        if (options_.hello.size() < 6) {
            return 1;
        }
        return std::max<std::size_t>(options_.hello[4] | (options_.hello[5] << 8), 1);
    }

    void Serve() {
        for (;;) {
            pollfd watched[3] = {{stopRead_.get(), POLLIN, 0},
                                 {listener_.get(), POLLIN, 0},
                                 {connection_.valid() ? connection_.get() : -1, POLLIN, 0}};
            if (::poll(watched, 3, -1) < 0) {
                continue;
            }
            if (watched[0].revents != 0) {
                return;
            }
            if (watched[2].revents != 0) {
                ReceiveReport();
            }
            if (watched[1].revents != 0) {
                Accept();
            }
        }
    }

    void Accept() {
        UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!accepted) {
            return;
        }
        int number = 0;
        {
            const std::lock_guard lock(mutex_);
            number = ++connections_;
        }
        if (options_.refuseOpens && number % 2 == 0) {
            return;  // closed unanswered
        }
        if (options_.greet) {
            ::send(accepted.get(), options_.hello.data(), options_.hello.size(), MSG_NOSIGNAL);
        }
        connection_ = std::move(accepted);  // the newest connection is the one served
    }

    void ReceiveReport() {
        Bytes message(kMessageLimit);
        const ssize_t received = ::recv(connection_.get(), message.data(), message.size(), 0);
        if (received <= 0) {
            connection_.reset();
            return;
        }
        message.resize(static_cast<std::size_t>(received));
        const std::span<const uint8_t> carried =
            std::span<const uint8_t>(message).subspan(1, std::min(message.size() - 1, kChunk));
        const std::vector<Bytes> answers =
            options_.responder ? options_.responder(carried) : std::vector<Bytes>{};
        {
            // Recorded before it is answered: whoever got the answer also sees the report counted.
            const std::lock_guard lock(mutex_);
            reports_.push_back(std::move(message));
        }
        for (const Bytes& frame : answers) {
            Bytes input(InputReportLength(), 0);  // report id 0, then the frame
            std::copy_n(frame.begin(), std::min(frame.size(), input.size() - 1), input.begin() + 1);
            ::send(connection_.get(), input.data(), input.size(), MSG_NOSIGNAL);
        }
        const std::lock_guard lock(mutex_);
        ++handled_;
        handledChanged_.notify_all();
    }

    std::string path_;
    Options options_;
    UniqueFd listener_;
    UniqueFd connection_;
    UniqueFd stopRead_;
    UniqueFd stopWrite_;
    bool bound_ = false;

    mutable std::mutex mutex_;
    std::condition_variable handledChanged_;
    std::vector<Bytes> reports_;
    int handled_ = 0;
    int connections_ = 0;

    std::thread thread_;
};

}  // namespace zendrik::testing
