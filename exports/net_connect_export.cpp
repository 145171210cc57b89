// Exported UDP link function: connecting to a reader's network module.
#include "exports/global_link.h"
#include "link/net_connect.h"
#include "zendrik/zendrik.h"

extern "C" {

ZENDRIK_API int32_t Net_Connect(const char* hostIp, int32_t hostPort, const char* readerIp,
                                int32_t readerPort) {
    return zendrik::OnGlobalLink<int32_t>(ZENDRIK_ERR_NOT_REACHED, [&](zendrik::SwitchingLink& link) {
        const zendrik::UdpEndpoints endpoints{zendrik::EndpointFromArguments(hostIp, hostPort),
                                              zendrik::EndpointFromArguments(readerIp, readerPort)};
        return zendrik::NetConnect(link, endpoints);
    });
}

}  // extern "C"
