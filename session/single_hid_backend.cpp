#include "session/single_hid_backend.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include "link/hid_backend_hidapi.h"
#include "link/hid_backend_socket.h"

namespace zendrik::session {
namespace {

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};

// The path with every symbolic link resolved; nothing when it does not exist.
std::optional<std::string> ResolvedPath(const std::string& path) {
    const std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

bool IsSocket(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

class SingleDeviceHidBackend final : public HidBackend {
  public:
    explicit SingleDeviceHidBackend(std::string path) : path_(std::move(path)) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        if (IsSocket(path_)) {
            if (!socket_) {
                socket_ = MakeSocketHidBackend({path_});
            }
            lister_ = socket_.get();
            return socket_->Enumerate();
        }
        if (!hidapi_) {
            hidapi_ = MakeHidapiBackend();
        }
        lister_ = hidapi_.get();
        return NodeNamed(hidapi_->Enumerate());
    }

    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        return lister_ != nullptr ? lister_->Open(info) : nullptr;
    }

  private:
    // The one hidapi device whose node is the path (after resolving links on both sides).
    std::vector<HidDeviceInfo> NodeNamed(std::vector<HidDeviceInfo> devices) const {
        const std::optional<std::string> wanted = ResolvedPath(path_);
        std::vector<HidDeviceInfo> named;
        for (HidDeviceInfo& device : devices) {
            if (wanted && ResolvedPath(device.path) == wanted) {
                named.push_back(std::move(device));
            }
        }
        return named;
    }

    std::string path_;
    std::unique_ptr<HidBackend> socket_;
    std::unique_ptr<HidBackend> hidapi_;
    HidBackend* lister_ = nullptr;  // the backend of the latest enumeration
};

}  // namespace

std::unique_ptr<HidBackend> MakeSingleDeviceHidBackend(std::string path) {
    return std::make_unique<SingleDeviceHidBackend>(std::move(path));
}

}  // namespace zendrik::session
