#pragma once

namespace zendrik {

// The reader protocol was first built on a socket layer that had to be started, in version 1.1,
// around every UDP operation, and result::kSocketVersion reports that it could not be. POSIX
// sockets need no start-up, so the check always passes here; the path stays so that the result
// codes keep their meaning on every platform.
inline bool SocketLayerReady() {
    return true;
}

}  // namespace zendrik
