// Each transport server in-process, exchanging frames with raw bytes on loopback, a pseudo-terminal
// and a Unix socket in a private temporary directory.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <optional>
#include <utility>
#include <vector>

#include "link/unique_fd.h"
#include "sim/endpoint.h"
#include "sim/hid_socket_server.h"
#include "sim/module_responder.h"
#include "sim/pty_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "sim/udp_server.h"

namespace zendrik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
// Kind 0, low value 1, from address 1.
const Bytes kProbeReply{0xAA, 0x01, 0xC8, 0x01, 0x00, 0x01, 0x93, 0xA0, 0x55};
// Generous: only a broken server makes a test wait this long.
constexpr int kPatienceMs = 3000;

Responder AnswerWith(Reader& reader) {
    return [&reader](std::span<const uint8_t> request) { return reader.Answer(request); };
}

bool Readable(int fd, int timeoutMs = kPatienceMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

// Reads from a byte stream until `count` bytes have come or it stays quiet.
Bytes ReadBytes(int fd, std::size_t count) {
    Bytes bytes;
    while (bytes.size() < count && Readable(fd)) {
        std::array<uint8_t, 64> chunk{};
        const ssize_t got = ::read(fd, chunk.data(), std::min(chunk.size(), count - bytes.size()));
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    return bytes;
}

Bytes ReceiveMessage(int fd) {
    std::array<uint8_t, 512> buffer{};
    if (!Readable(fd)) {
        return {};
    }
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
    return got > 0 ? Bytes(buffer.begin(), buffer.begin() + got) : Bytes{};
}

UniqueFd OpenRawTerminal(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios line{};
    if (fd && ::tcgetattr(fd.get(), &line) == 0) {
        ::cfmakeraw(&line);
        ::tcsetattr(fd.get(), TCSANOW, &line);
    }
    return fd;
}

TEST(SimPtyServer, AnswersARequestBehindStrayBytesAndSurvivesAReopen) {
    Reader reader;
    PtyServer server(AnswerWith(reader));
    ASSERT_TRUE(std::filesystem::exists(server.path()));
    for (int open = 0; open < 2; ++open) {
        const UniqueFd port = OpenRawTerminal(server.path());
        ASSERT_TRUE(port) << server.path();
        Bytes request{0x00, 0x13};
        request.insert(request.end(), kProbe.begin(), kProbe.end());
        ASSERT_EQ(::write(port.get(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
        EXPECT_EQ(ReadBytes(port.get(), kProbeReply.size()), kProbeReply);
    }
    EXPECT_EQ(reader.requests().size(), 2u);
}

TEST(SimUdpServer, AnswersEachDatagramToItsSender) {
    Reader reader;
    UdpServer server(AnswerWith(reader), Ipv4Endpoint{kLoopbackHost, 0});
    ASSERT_NE(server.port(), 0);
    EXPECT_EQ(server.endpoint().host, kLoopbackHost);

    const UniqueFd client(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(client);
    const sockaddr_in to = *ToSocketAddress(server.endpoint());
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(::sendto(client.get(), kProbe.data(), kProbe.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
                  static_cast<ssize_t>(kProbe.size()));
        EXPECT_EQ(ReceiveMessage(client.get()), kProbeReply);
    }
}

UniqueFd ConnectUnix(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return {};
    }
    return socket;
}

Bytes OutputReport(const Bytes& frame) {
    Bytes report(65, 0);
    std::copy(frame.begin(), frame.end(), report.begin() + 1);
    return report;
}

TEST(SimHidSocketServer, GreetsEveryConnectionAndRepliesToAllOpenOnesAndRemovesItsSocket) {
    const TempDir directory;
    const std::string path = directory.path() + "/hid.sock";
    Reader reader;
    {
        HidSocketServer server(AnswerWith(reader), path);
        const UniqueFd first = ConnectUnix(path);
        ASSERT_TRUE(first);
        // Vendor 0x0416, product 0xB00B, input and output reports of 65 bytes, little-endian.
        EXPECT_EQ(ReceiveMessage(first.get()), (Bytes{0x16, 0x04, 0x0B, 0xB0, 0x41, 0x00, 0x41, 0x00}));
        const Bytes request = OutputReport(kProbe);
        ASSERT_EQ(::send(first.get(), request.data(), request.size(), 0), 65);
        Bytes expected(65, 0);
        std::copy(kProbeReply.begin(), kProbeReply.end(), expected.begin() + 1);
        EXPECT_EQ(ReceiveMessage(first.get()), expected);

        // A second program opens the device: as on hidraw, every open connection gets every reply,
        // whichever connection asked, so the two see each other's replies.
        const UniqueFd second = ConnectUnix(path);
        ASSERT_TRUE(second);
        EXPECT_EQ(ReceiveMessage(second.get()).size(), 8u);
        ASSERT_EQ(::send(second.get(), request.data(), request.size(), 0), 65);
        EXPECT_EQ(ReceiveMessage(second.get()), expected);
        EXPECT_EQ(ReceiveMessage(first.get()), expected);
        ASSERT_EQ(::send(first.get(), request.data(), request.size(), 0), 65);
        EXPECT_EQ(ReceiveMessage(first.get()), expected);
        EXPECT_EQ(ReceiveMessage(second.get()), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SimHidSocketServer, ALateReplyOvertakenByANewConnectionIsDropped) {
    const TempDir directory;
    const std::string path = directory.path() + "/hid.sock";
    Reader reader;
    reader.FailNext(1, Fault::Late(std::chrono::milliseconds{200}));
    std::promise<void> firstAsked;
    bool answeredOnce = false;
    HidSocketServer server(
        [&](std::span<const uint8_t> request) {
            std::optional<Reply> reply = reader.Answer(request);
            if (!std::exchange(answeredOnce, true)) {
                firstAsked.set_value();
            }
            return reply;
        },
        path);
    const UniqueFd first = ConnectUnix(path);
    ASSERT_EQ(ReceiveMessage(first.get()).size(), 8u);
    const Bytes request = OutputReport(kProbe);
    ASSERT_EQ(::send(first.get(), request.data(), request.size(), 0), 65);
    // Opened only once the server has taken the request, else both could be accepted before it.
    firstAsked.get_future().wait();
    const UniqueFd second = ConnectUnix(path);  // while the reply is held back
    ASSERT_TRUE(second);
    EXPECT_EQ(ReceiveMessage(second.get()).size(), 8u);  // greeted once the late reply was dropped
    ASSERT_EQ(::send(second.get(), request.data(), request.size(), 0), 65);
    const Bytes reply = ReceiveMessage(second.get());
    ASSERT_EQ(reply.size(), 65u);
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 10), kProbeReply);
    EXPECT_FALSE(Readable(second.get(), 0));  // one reply only: the late one was not for it
    // The late reply went to the connection that was open when it was asked for.
    const Bytes late = ReceiveMessage(first.get());
    ASSERT_EQ(late.size(), 65u);
    EXPECT_EQ(Bytes(late.begin() + 1, late.begin() + 10), kProbeReply);
}

TEST(SimModuleResponder, AnswersSearchAndSettingsOnLoopback) {
    ModuleResponder responder(Ipv4Endpoint{kLoopbackHost, 0});
    ASSERT_NE(responder.port(), 0);
    const UniqueFd client(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in to = *ToSocketAddress(responder.endpoint());
    const Bytes search{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55};
    ASSERT_EQ(::sendto(client.get(), search.data(), search.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof(to)),
              8);
    const Bytes answer = ReceiveMessage(client.get());
    ASSERT_GE(answer.size(), 27u);
    EXPECT_EQ(answer[0], 0xAA);
    const ModuleId id = responder.module().settings().id;
    EXPECT_EQ(Bytes(answer.begin() + 5, answer.begin() + 11), Bytes(id.begin(), id.end()));
}

}  // namespace
}  // namespace zendrik::sim
