#pragma once

#include <QString>

namespace zendrik::tool {

// The first IPv4 address the host's own name resolves to, in dotted-decimal form; empty when the
// host has no name or the name does not resolve.
QString HostIpv4Address();

}  // namespace zendrik::tool
