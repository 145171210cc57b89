#include "sim/hid_socket_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "link/hid_backend.h"
#include "link/hid_backend_socket.h"
#include "sim/request.h"

namespace zendrik::sim {
namespace {

constexpr const char* kTransport = "hid";
constexpr std::size_t kReportIdBytes = 1;
constexpr uint8_t kReportId = 0;
constexpr uint16_t kReportLength = kReportIdBytes + kHidChunkSize;
constexpr int kBacklog = 8;
constexpr int kNoTimeout = -1;
// The wake event and the listener come first in every poll, then one entry per connection.
constexpr std::size_t kFixedPollEntries = 2;
// Room for reports longer than ours, so that one is read whole (and then cut to the chunk).
constexpr std::size_t kReceiveCapacity = kMaxVirtualReportLength;

UniqueFd Listen(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        throw std::invalid_argument("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener.get(), kBacklog) != 0) {
        throw std::system_error(errno, std::generic_category(), "listen on " + path);
    }
    return listener;
}

bool SendMessage(int fd, std::span<const uint8_t> message) {
    // MSG_NOSIGNAL: a library that has already hung up is not worth a SIGPIPE.
    return ::send(fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

}  // namespace

HidSocketServer::HidSocketServer(Responder responder, std::string path, TraceLog* trace)
    : responder_(std::move(responder)),
      path_(std::move(path)),
      trace_(trace),
      listener_(Listen(path_)),
      thread_([this](std::stop_token stop) { Serve(stop); }) {}

HidSocketServer::~HidSocketServer() {
    thread_.request_stop();
    wake_.Signal();
    thread_.join();
    ::unlink(path_.c_str());
}

void HidSocketServer::Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::vector<pollfd> watched{{wake_.fd(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
        for (const Connection& connection : connections_) {
            watched.push_back({connection.socket.get(), POLLIN, 0});
        }
        const int ready = ::poll(watched.data(), watched.size(), kNoTimeout);
        if ((ready < 0 && errno != EINTR) || watched[0].revents != 0) {
            return;
        }
        // Reports first, each connection once in the order they were opened, then new connections:
        // a request that came before a connection was opened is answered as it was asked, without
        // the newcomer. Handling a report may accept connections; they only join the end of the list.
        std::vector<uint64_t> closed;
        const std::size_t watchedConnections = watched.size() - kFixedPollEntries;
        for (std::size_t i = 0; i < watchedConnections; ++i) {
            const short events = watched[kFixedPollEntries + i].revents;
            if (events != 0 && !((events & POLLIN) && HandleReport(connections_[i].socket.get()))) {
                closed.push_back(connections_[i].number);
            }
        }
        std::erase_if(connections_, [&](const Connection& connection) {
            return std::find(closed.begin(), closed.end(), connection.number) != closed.end();
        });
        if (watched[1].revents & POLLIN) {
            AcceptWaiting();
        }
    }
}

void HidSocketServer::AcceptWaiting() {
    for (;;) {
        UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!accepted) {
            return;
        }
        const HidHelloBytes hello =
            EncodeHidHello({kReaderVendorId, kReaderProductId, kReportLength, kReportLength});
        if (SendMessage(accepted.get(), hello)) {
            connections_.push_back({std::move(accepted), ++accepted_});
        }
    }
}

bool HidSocketServer::HandleReport(int socket) {
    std::array<uint8_t, kReceiveCapacity> report{};
    const ssize_t received = ::recv(socket, report.data(), report.size(), MSG_DONTWAIT);
    if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) {
        return false;  // the library closed the device
    }
    if (received <= static_cast<ssize_t>(kReportIdBytes)) {
        return true;
    }
    // The frame says how long it is; the padding after it is not part of the request.
    const std::span<const uint8_t> frame = std::span<const uint8_t>(report).subspan(
        kReportIdBytes, static_cast<std::size_t>(received) - kReportIdBytes);
    const FrameProbe probe = ProbeFrame(frame);
    TraceReceived(trace_, kTransport,
                  frame.first(probe.check == FrameCheck::kComplete ? probe.size
                                                                   : std::min(frame.size(), kHidChunkSize)));
    const std::optional<Reply> reply = responder_(frame);
    if (!reply) {
        TraceNote(trace_, kTransport, "(no reply)");
        return true;
    }
    const uint64_t openWhenAsked = accepted_;
    if (reply->delay.count() > 0) {
        if (!wake_.WaitFor(reply->delay)) {
            return true;
        }
        // Devices opened during the delay are greeted now; the reply is not theirs.
        AcceptWaiting();
    }
    std::array<uint8_t, kReportLength> input{};
    input[0] = kReportId;
    const std::size_t carried = std::min(reply->bytes.size(), kHidChunkSize);
    std::copy_n(reply->bytes.begin(), carried, input.begin() + kReportIdBytes);
    TraceSent(trace_, kTransport, std::span<const uint8_t>(reply->bytes).first(carried));
    DeliverToOpenedUpTo(openWhenAsked, input);
    return true;
}

void HidSocketServer::DeliverToOpenedUpTo(uint64_t lastNumber, std::span<const uint8_t> input) {
    for (const Connection& connection : connections_) {
        if (connection.number <= lastNumber) {
            // Never blocks: a connection nobody reads would otherwise stop the whole device.
            ::send(connection.socket.get(), input.data(), input.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }
}

}  // namespace zendrik::sim
