#include "link/hid_backend_default.h"

#include <cstdlib>

#include "link/hid_backend_hidapi.h"
#include "link/hid_backend_socket.h"

namespace zendrik {
namespace {

// Chooses at every enumeration, so that ZENDRIK_HID_SOCKET set or changed after the library was
// loaded takes effect at the next locate. A device is opened by the backend that listed it.
class DefaultHidBackend final : public HidBackend {
  public:
    explicit DefaultHidBackend(Clock& clock) : clock_(clock) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        const char* sockets = std::getenv(kHidSocketVariable);
        if (sockets != nullptr && *sockets != '\0') {
            socket_ = MakeSocketHidBackend(SplitSocketPaths(sockets), clock_);
            lister_ = socket_.get();
        } else {
            if (!hidapi_) {
                hidapi_ = MakeHidapiBackend();  // hidapi starts only when real devices are wanted
            }
            lister_ = hidapi_.get();
        }
        return lister_->Enumerate();
    }

    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        return lister_ != nullptr ? lister_->Open(info) : nullptr;
    }

  private:
    Clock& clock_;
    std::unique_ptr<HidBackend> hidapi_;
    std::unique_ptr<HidBackend> socket_;
    HidBackend* lister_ = nullptr;  // the backend of the latest enumeration
};

}  // namespace

std::unique_ptr<HidBackend> MakeDefaultHidBackend(Clock& clock) {
    return std::make_unique<DefaultHidBackend>(clock);
}

std::unique_ptr<HidBackend> MakeDefaultHidBackend() {
    static SystemClock clock;
    return MakeDefaultHidBackend(clock);
}

}  // namespace zendrik
