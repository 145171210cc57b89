#include "link/hid_backend_default.h"

namespace zendrik {
namespace {
// Placeholder until the hidapi and virtual-socket backends land.
class NoHidBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> Enumerate() override { return {}; }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override { return nullptr; }
};
}  // namespace

std::unique_ptr<HidBackend> MakeDefaultHidBackend() { return std::make_unique<NoHidBackend>(); }

}  // namespace zendrik
