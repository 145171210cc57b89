#pragma once

#include <cstdint>

#include "link/switching_link.h"

namespace zendrik {

// Converts a caller's address text and port as the link state stores them: the text as given
// (none counts as empty), the port modulo 65536.
UdpEndpoint EndpointFromArguments(const char* ip, int32_t port);

// Stores the host and reader endpoints, switches the link to UDP and checks that the reader answers
// the handshake probe, with a second attempt when the first gets no answer. The endpoints and the
// link type stay set whatever the outcome. result::kOk, or result::kNotReached.
int32_t NetConnect(SwitchingLink& link, const UdpEndpoints& endpoints);

}  // namespace zendrik
