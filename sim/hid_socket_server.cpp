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
#include "link/link.h"
#include "sim/request.h"

namespace zendrik::sim {
namespace {

constexpr const char* kTransport = "hid";
constexpr std::size_t kReportIdBytes = 1;
constexpr uint8_t kReportId = 0;
constexpr uint16_t kReportLength = kReportIdBytes + kHidChunkSize;
constexpr int kBacklog = 8;
constexpr int kNoTimeout = -1;
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
        std::array<pollfd, 3> watched{
            {{wake_.fd(), POLLIN, 0}, {listener_.get(), POLLIN, 0}, {connection_.get(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), kNoTimeout);
        if ((ready < 0 && errno != EINTR) || watched[0].revents != 0) {
            return;
        }
        if (watched[1].revents & POLLIN) {
            AcceptNewest();
        } else if (watched[2].revents & POLLIN) {
            HandleReport();
        } else if (watched[2].revents & (POLLHUP | POLLERR)) {
            connection_.reset();
        }
    }
}

void HidSocketServer::AcceptNewest() {
    // Take every connection waiting; the last one is the device the library has open now.
    for (;;) {
        UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!accepted) {
            return;
        }
        const HidHelloBytes hello =
            EncodeHidHello({kReaderVendorId, kReaderProductId, kReportLength, kReportLength});
        if (SendMessage(accepted.get(), hello)) {
            connection_ = std::move(accepted);
            ++generation_;
        }
    }
}

void HidSocketServer::HandleReport() {
    std::array<uint8_t, kReceiveCapacity> report{};
    const ssize_t received = ::recv(connection_.get(), report.data(), report.size(), MSG_DONTWAIT);
    if (received == 0) {
        connection_.reset();  // the library closed the device
        return;
    }
    if (received <= static_cast<ssize_t>(kReportIdBytes)) {
        return;
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
        return;
    }
    const uint64_t askedOn = generation_;
    if (reply->delay.count() > 0) {
        if (!wake_.WaitFor(reply->delay)) {
            return;
        }
        // A library that gave up waiting has opened the device again by now; the reply belongs to
        // the connection it was asked on.
        AcceptNewest();
    }
    std::array<uint8_t, kReportLength> input{};
    input[0] = kReportId;
    const std::size_t carried = std::min(reply->bytes.size(), kHidChunkSize);
    std::copy_n(reply->bytes.begin(), carried, input.begin() + kReportIdBytes);
    TraceSent(trace_, kTransport, std::span<const uint8_t>(reply->bytes).first(carried));
    if (generation_ == askedOn) {
        SendMessage(connection_.get(), input);
    }
}

}  // namespace zendrik::sim
