#pragma once

#include <cstdint>
#include <span>

#include "link/switching_link.h"

namespace zendrik {

// Where the network module functions talk and how long they listen. Modules are found and
// configured by broadcast from the host's fixed address; the exported functions always use the
// defaults, tests point the endpoints at loopback and shorten the wait.
struct ModuleNetwork {
    UdpEndpoints endpoints{UdpEndpoint{"192.168.1.54", 2000}, UdpEndpoint{"255.255.255.255", 5000}};
    Milliseconds receiveTimeout{1000};
};

// One request to the modules and the first answer back. The endpoints go into the link state and
// the link type becomes UDP before anything is sent, so reader commands afterwards need a new
// NetConnect. result::kOk with `answer` filled, or result::kUdpNoReply when nothing arrived or
// the answer does not start a frame.
int32_t ModuleTransaction(SwitchingLink& link, const ModuleNetwork& network, std::span<const uint8_t> request,
                          Datagram& answer);

// Copies answer bytes [offset, offset + destination.size()) into `destination`; bytes that a short
// answer does not cover become zeros.
void CopyAnswerBytes(const Datagram& answer, std::size_t offset, std::span<uint8_t> destination);

}  // namespace zendrik
