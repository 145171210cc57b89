// A network module for the namespace test: listens on port 5000, answers the search with a fixed
// module id and the settings requests with a fixed reply, and logs every request as
//   <command hex> from <sender ip>:<port> to <destination ip>
// so that the script can check that the library broadcast from its fixed address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "link/frame.h"
#include "link/unique_fd.h"
#include "tests/netmodule/netns_module.h"

namespace {

using zendrik::BuildStandardFrame;

constexpr uint16_t kModulePort = 5000;
constexpr std::size_t kLargestRequest = 512;
// Stops by itself once nothing arrives for this long, should the script that started it be killed.
constexpr time_t kIdleExitSeconds = 30;

struct Request {
    std::vector<uint8_t> bytes;
    sockaddr_in sender{};
    in_addr destination{};
};

bool ReceiveRequest(const zendrik::UniqueFd& socket, Request& request) {
    request.bytes.resize(kLargestRequest);
    iovec data{request.bytes.data(), request.bytes.size()};
    std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    msghdr message{};
    message.msg_name = &request.sender;
    message.msg_namelen = sizeof request.sender;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t received = ::recvmsg(socket.get(), &message, 0);
    if (received < 0) {
        return false;
    }
    request.bytes.resize(static_cast<std::size_t>(received));
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            request.destination = info.ipi_addr;
        }
    }
    return true;
}

std::vector<uint8_t> AnswerFor(uint8_t command) {
    if (command == zendrik::command::kModuleSearch) {
        return BuildStandardFrame(0xFF, zendrik::kStatusOk,
                                  std::span<const uint8_t>(kNetnsModuleId, NETNS_MODULE_ID_SIZE));
    }
    std::array<uint8_t, NETNS_SETTINGS_REPLY_SIZE> settings{};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        settings[i] = static_cast<uint8_t>(kNetnsSettingsReplyFirst + i);
    }
    return BuildStandardFrame(0xFF, zendrik::kStatusOk, settings);
}

void LogRequest(const Request& request) {
    std::array<char, INET_ADDRSTRLEN> sender{};
    std::array<char, INET_ADDRSTRLEN> destination{};
    ::inet_ntop(AF_INET, &request.sender.sin_addr, sender.data(), sender.size());
    ::inet_ntop(AF_INET, &request.destination, destination.data(), destination.size());
    const unsigned command =
        request.bytes.size() > zendrik::kOffsetCommand ? request.bytes[zendrik::kOffsetCommand] : 0;
    std::printf("%02x from %s:%u to %s\n", command, sender.data(), ntohs(request.sender.sin_port),
                destination.data());
    std::fflush(stdout);
}

}  // namespace

int main() {
    const zendrik::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    const timeval idle{kIdleExitSeconds, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kModulePort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!socket || ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        std::perror("module responder");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    Request request;
    while (ReceiveRequest(socket, request)) {
        LogRequest(request);
        if (request.bytes.size() <= zendrik::kOffsetCommand || request.bytes[0] != zendrik::kStartByte) {
            continue;
        }
        const std::vector<uint8_t> answer = AnswerFor(request.bytes[zendrik::kOffsetCommand]);
        ::sendto(socket.get(), answer.data(), answer.size(), 0,
                 reinterpret_cast<const sockaddr*>(&request.sender), sizeof request.sender);
    }
    return 0;
}
