#include "tool/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>

namespace zendrik::tool {
namespace {

constexpr std::size_t kHostNameCapacity = 256;

struct AddressInfoDeleter {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

}  // namespace

QString HostIpv4Address() {
    std::array<char, kHostNameCapacity> hostName{};
    if (gethostname(hostName.data(), hostName.size() - 1) != 0) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName.data(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    const std::unique_ptr<addrinfo, AddressInfoDeleter> addresses(found);
    std::array<char, INET_ADDRSTRLEN> text{};
    const auto* address = reinterpret_cast<const sockaddr_in*>(addresses->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size()) == nullptr) {
        return {};
    }
    return QString::fromLatin1(text.data());
}

}  // namespace zendrik::tool
