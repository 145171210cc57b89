#include "link/hid_backend_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/unique_fd.h"

namespace zendrik {
namespace {

// A device that accepts the connection but never greets must not hang a locate, nor one that has
// stopped accepting connections.
constexpr std::chrono::milliseconds kHelloTimeout{1000};
constexpr Milliseconds kConnectTimeout{1000};
constexpr Milliseconds kConnectRetry{10};

constexpr std::size_t kHelloVendorOffset = 0;
constexpr std::size_t kHelloProductOffset = 2;
constexpr std::size_t kHelloInputOffset = 4;
constexpr std::size_t kHelloOutputOffset = 6;
constexpr std::size_t kReportIdBytes = 1;

uint16_t ReadLe16(std::span<const uint8_t> bytes, std::size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void WriteLe16(std::span<uint8_t> bytes, std::size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

bool SaneReportLength(uint16_t length) {
    return length >= kReportIdBytes && length <= kMaxVirtualReportLength;
}

// Connects without ever blocking: connect() to a server that has stopped accepting blocks for ever
// once its backlog is full, so a full backlog (EAGAIN) is tried again every kConnectRetry until
// kConnectTimeout has passed on `clock`. Nothing on failure, with errno saying why.
UniqueFd ConnectTo(const std::string& path, Clock& clock) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return {};
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) {
        return {};
    }
    const Clock::TimePoint deadline = clock.now() + kConnectTimeout;
    for (;;) {
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            return socket;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || clock.now() >= deadline) {
            const int error = errno != EAGAIN ? errno : ETIMEDOUT;
            socket.reset();
            errno = error;
            return {};
        }
        clock.sleep_until(std::min(clock.now() + kConnectRetry, deadline));
    }
}

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Reads the hello of a fresh connection; it must be one message of exactly the hello's size.
// Nothing on failure, with errno saying why.
std::optional<HidHello> ReceiveHello(int fd) {
    if (!WaitReadable(fd, kHelloTimeout)) {
        errno = ETIMEDOUT;
        return std::nullopt;
    }
    HidHelloBytes bytes{};
    // MSG_TRUNC makes recv report the message's real length, so a longer message is refused too.
    const ssize_t received = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_TRUNC);
    const std::optional<HidHello> hello =
        received == static_cast<ssize_t>(bytes.size()) ? DecodeHidHello(bytes) : std::nullopt;
    if (!hello) {
        errno = EPROTO;
    }
    return hello;
}

class SocketHidDevice final : public HidDevice {
  public:
    SocketHidDevice(UniqueFd connection, const HidHello& hello)
        : connection_(std::move(connection)), hello_(hello), inputBuffer_(hello.inputReportLength, 0) {}

    std::size_t InputReportLength() const override { return hello_.inputReportLength; }
    std::size_t OutputReportLength() const override { return hello_.outputReportLength; }

    bool WriteReport(std::span<const uint8_t> report) override {
        if (report.size() != hello_.outputReportLength) {
            return false;  // a message is one whole report of the device's length
        }
        ssize_t sent = 0;
        do {
            // MSG_NOSIGNAL: a device that has gone is a failed write, not a SIGPIPE. The socket does
            // not block: a device that has stopped taking reports fails the write.
            sent = ::send(connection_.get(), report.data(), report.size(), MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(report.size());
    }

    bool ReadChunk(HidChunk& chunk) override { return Receive(chunk); }

    bool ReadChunkWithin(HidChunk& chunk, Milliseconds timeout) override {
        return WaitReadable(connection_.get(), timeout) && Receive(chunk);
    }

  private:
    // Takes one report that has arrived, without waiting.
    bool Receive(HidChunk& chunk) {
        std::fill(inputBuffer_.begin(), inputBuffer_.end(), 0);
        ssize_t received = 0;
        do {
            received = ::recv(connection_.get(), inputBuffer_.data(), inputBuffer_.size(), MSG_DONTWAIT);
        } while (received < 0 && errno == EINTR);
        // Nothing arrived (EAGAIN), the device has gone (0), or the message holds no report id.
        if (received < static_cast<ssize_t>(kReportIdBytes)) {
            return false;
        }
        const std::size_t payload = static_cast<std::size_t>(received) - kReportIdBytes;
        chunk.fill(0);
        std::copy_n(inputBuffer_.begin() + kReportIdBytes, std::min(payload, chunk.size()), chunk.begin());
        return true;
    }

    UniqueFd connection_;
    HidHello hello_;
    std::vector<uint8_t> inputBuffer_;
};

class SocketHidBackend final : public HidBackend {
  public:
    SocketHidBackend(std::vector<std::string> socketPaths, Clock& clock)
        : socketPaths_(std::move(socketPaths)), clock_(clock) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> devices;
        for (const std::string& path : socketPaths_) {
            const UniqueFd connection = ConnectTo(path, clock_);
            if (!connection) {
                continue;
            }
            if (const std::optional<HidHello> hello = ReceiveHello(connection.get())) {
                devices.push_back({path, hello->vendorId, hello->productId});
            }
        }
        return devices;
    }

    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        UniqueFd connection = ConnectTo(info.path, clock_);
        if (!connection) {
            return nullptr;
        }
        const std::optional<HidHello> hello = ReceiveHello(connection.get());
        if (!hello) {
            const int error = errno;
            connection.reset();
            errno = error;
            return nullptr;
        }
        return std::make_unique<SocketHidDevice>(std::move(connection), *hello);
    }

  private:
    std::vector<std::string> socketPaths_;
    Clock& clock_;
};

}  // namespace

HidHelloBytes EncodeHidHello(const HidHello& hello) {
    HidHelloBytes bytes{};
    WriteLe16(bytes, kHelloVendorOffset, hello.vendorId);
    WriteLe16(bytes, kHelloProductOffset, hello.productId);
    WriteLe16(bytes, kHelloInputOffset, hello.inputReportLength);
    WriteLe16(bytes, kHelloOutputOffset, hello.outputReportLength);
    return bytes;
}

std::optional<HidHello> DecodeHidHello(std::span<const uint8_t, kHidHelloSize> bytes) {
    const HidHello hello{ReadLe16(bytes, kHelloVendorOffset), ReadLe16(bytes, kHelloProductOffset),
                         ReadLe16(bytes, kHelloInputOffset), ReadLe16(bytes, kHelloOutputOffset)};
    if (!SaneReportLength(hello.inputReportLength) || !SaneReportLength(hello.outputReportLength)) {
        return std::nullopt;
    }
    return hello;
}

std::vector<std::string> SplitSocketPaths(std::string_view list) {
    std::vector<std::string> paths;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(kHidSocketSeparator), list.size());
        if (end > 0) {
            paths.emplace_back(list.substr(0, end));
        }
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return paths;
}

std::unique_ptr<HidBackend> MakeSocketHidBackend(std::vector<std::string> socketPaths, Clock& clock) {
    return std::make_unique<SocketHidBackend>(std::move(socketPaths), clock);
}

std::unique_ptr<HidBackend> MakeSocketHidBackend(std::vector<std::string> socketPaths) {
    static SystemClock clock;
    return MakeSocketHidBackend(std::move(socketPaths), clock);
}

}  // namespace zendrik
