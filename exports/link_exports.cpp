// Exported link functions: opening and closing the serial or USB link, and the COM device mapping.
#include <algorithm>
#include <cstring>

#include "exports/global_link.h"
#include "link/com_port_map.h"
#include "zendrik/zendrik.h"

using zendrik::Guarded;
using zendrik::OnGlobalLink;

extern "C" {

ZENDRIK_API int32_t OpenCom(int32_t port, int32_t baud) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_PORT_OPEN,
                                 [&](zendrik::SwitchingLink& link) { return link.OpenCom(port, baud); });
}

ZENDRIK_API int32_t OpenComDevice(const char* path, int32_t baud) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_PORT_OPEN, [&](zendrik::SwitchingLink& link) {
        if (path == nullptr) {
            return int32_t{ZENDRIK_ERR_PORT_OPEN};
        }
        return link.OpenSerialDevice(path, baud);
    });
}

ZENDRIK_API int32_t CloseCom(void) {
    return OnGlobalLink<int32_t>(ZENDRIK_ERR_PORT_NOT_OPEN,
                                 [](zendrik::SwitchingLink& link) { return link.CloseCom(); });
}

ZENDRIK_API int32_t GetUsbOpenError(char* path, int32_t size) {
    return OnGlobalLink<int32_t>(0, [&](zendrik::SwitchingLink& link) -> int32_t {
        const auto& failure = link.usb_open_failure();
        if (!failure) {
            return 0;
        }
        if (path != nullptr && size > 0) {
            const std::size_t kept = std::min(failure->path.size(), static_cast<std::size_t>(size) - 1);
            std::memcpy(path, failure->path.data(), kept);
            path[kept] = '\0';
        }
        return failure->error;
    });
}

ZENDRIK_API int32_t GetComDevicePath(int32_t index, char* path, int32_t size) {
    return Guarded<int32_t>(ZENDRIK_ERR_PORT_OPEN, [&]() -> int32_t {
        const std::string device = zendrik::ComDevicePath(index);
        if (path == nullptr || size <= 0 || device.size() + 1 > static_cast<std::size_t>(size)) {
            return ZENDRIK_ERR_PORT_OPEN;
        }
        std::memcpy(path, device.c_str(), device.size() + 1);
        return ZENDRIK_OK;
    });
}

}  // extern "C"
