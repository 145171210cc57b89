#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>

namespace zendrik::sim {
namespace {

constexpr const char* kTransport = "pty";
// A frame still incomplete after the line has been quiet this long was not a frame.
constexpr int kStallTimeoutMs = 100;
constexpr int kNoTimeout = -1;
constexpr std::size_t kReadChunk = 256;
constexpr std::size_t kPathCapacity = 128;

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

UniqueFd OpenMaster() {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        Fail("posix_openpt");
    }
    return master;
}

std::string SlavePath(int master) {
    std::array<char, kPathCapacity> path{};
    if (::ptsname_r(master, path.data(), path.size()) != 0) {
        Fail("ptsname_r");
    }
    return path.data();
}

// Raw from the start: no echo or line editing may touch a frame even before the library has set
// up the line.
UniqueFd OpenRawSlave(const std::string& path) {
    UniqueFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios line{};
    if (!slave || ::tcgetattr(slave.get(), &line) != 0) {
        Fail("open pty slave");
    }
    ::cfmakeraw(&line);
    if (::tcsetattr(slave.get(), TCSANOW, &line) != 0) {
        Fail("tcsetattr");
    }
    return slave;
}

}  // namespace

PtyServer::PtyServer(Responder responder, TraceLog* trace)
    : responder_(std::move(responder)),
      trace_(trace),
      master_(OpenMaster()),
      path_(SlavePath(master_.get())),
      slave_(OpenRawSlave(path_)),
      thread_([this](std::stop_token stop) { Serve(stop); }) {}

PtyServer::~PtyServer() {
    thread_.request_stop();
    wake_.Signal();
}

void PtyServer::Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::array<pollfd, 2> watched{{{master_.get(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}}};
        const int timeout = scanner_.has_pending() ? kStallTimeoutMs : kNoTimeout;
        const int ready = ::poll(watched.data(), watched.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        if (ready == 0) {
            scanner_.DropStalled();
        } else if (watched[0].revents & POLLIN) {
            HandleInput();
        }
        const std::vector<ScannedFrame> frames = scanner_.TakeFrames();
        TraceSkipped();
        for (const ScannedFrame& frame : frames) {
            Answer(frame);
        }
    }
}

void PtyServer::HandleInput() {
    std::array<uint8_t, kReadChunk> buffer{};
    const ssize_t count = ::read(master_.get(), buffer.data(), buffer.size());
    if (count > 0) {
        scanner_.Feed(std::span(buffer).first(static_cast<std::size_t>(count)));
    }
}

void PtyServer::Answer(const ScannedFrame& frame) {
    TraceReceived(trace_, kTransport, frame.bytes);
    const std::optional<Reply> reply = responder_(frame.bytes);
    if (!reply) {
        TraceNote(trace_, kTransport, "(no reply)");
        return;
    }
    if (reply->delay.count() > 0 && !wake_.WaitFor(reply->delay)) {
        return;
    }
    TraceSent(trace_, kTransport, reply->bytes);
    WriteAll(reply->bytes);
}

void PtyServer::WriteAll(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(master_.get(), bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            // The line's buffer is full: nobody reads. Wait for room unless told to stop.
            std::array<pollfd, 2> watched{{{master_.get(), POLLOUT, 0}, {wake_.fd(), POLLIN, 0}}};
            if (::poll(watched.data(), watched.size(), kNoTimeout) > 0 && watched[1].revents == 0) {
                continue;
            }
        }
        return;
    }
}

void PtyServer::TraceSkipped() {
    const std::vector<uint8_t> skipped = scanner_.TakeSkipped();
    if (!skipped.empty() && trace_) {
        trace_->Received(kTransport, skipped);
        trace_->Note(kTransport, "(not a request: skipped)");
    }
}

}  // namespace zendrik::sim
