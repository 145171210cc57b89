#include "link/hid_backend_hidapi.h"

#include <fcntl.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <mutex>
#include <vector>

#include "link/unique_fd.h"

namespace zendrik {
namespace {

// Used when the report descriptor cannot be read or declares no such report: the reader carries one
// frame in a 64-byte report, which with the report id byte makes 65.
constexpr std::size_t kFallbackReportLength = kHidChunkSize + 1;
// Longest report believed from a descriptor (the kernel's own report buffer limit).
constexpr std::size_t kMaxReportLength = 4096;
// Cap on the bits summed per report, so that absurd sizes and counts cannot overflow.
constexpr uint64_t kMaxReportBits = uint64_t{kMaxReportLength} * 8 * 2;
constexpr int kNoWait = 0;
// hid_read_timeout takes an int of milliseconds; longer waits are cut to this (about 24 days).
constexpr Milliseconds::rep kLongestWaitMs = std::numeric_limits<int>::max();
// Report ids are one byte; 0 stands for the one report of a device that does not number them.
constexpr std::size_t kReportIds = 256;

// ---- Report descriptor items ----------------------------------------------------------------------
// A short item is one prefix byte (bits 0-1 data size, 3 meaning 4 bytes; bits 2-3 type; bits 4-7 tag)
// followed by its data, little-endian. A long item is 0xFE, its data size, its tag, then the data.
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr std::size_t kLongItemHeader = 3;
constexpr uint8_t kSizeMask = 0x03;
constexpr uint8_t kTypeShift = 2;
constexpr uint8_t kTypeMask = 0x03;
constexpr uint8_t kTagShift = 4;
constexpr std::size_t kItemDataSizes[] = {0, 1, 2, 4};

constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kMainInput = 0x8;
constexpr uint8_t kMainOutput = 0x9;
constexpr uint8_t kGlobalReportSize = 0x7;
constexpr uint8_t kGlobalReportId = 0x8;
constexpr uint8_t kGlobalReportCount = 0x9;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;

struct GlobalItems {
    uint64_t reportSize = 0;
    uint64_t reportCount = 0;
    uint8_t reportId = 0;  // 0: reports are not numbered
};

// Bits declared per report id for one kind of report (input or output).
class ReportSizes {
  public:
    void Add(const GlobalItems& globals) {
        const uint64_t bits =
            std::min(globals.reportSize, kMaxReportBits) * std::min(globals.reportCount, kMaxReportBits);
        uint64_t& total = bits_[globals.reportId];
        total = std::min(total + bits, kMaxReportBits);
        declared_ = true;
    }

    // Bytes of the longest report plus its report id byte; 0 when none is declared.
    std::size_t LongestLength() const {
        const uint64_t longest = *std::max_element(bits_.begin(), bits_.end());
        return declared_ ? static_cast<std::size_t>((longest + 7) / 8) + 1 : 0;
    }

  private:
    std::array<uint64_t, kReportIds> bits_{};
    bool declared_ = false;
};

uint32_t ItemValue(std::span<const uint8_t> data) {
    uint32_t value = 0;
    for (std::size_t i = data.size(); i > 0; --i) {
        value = (value << 8) | data[i - 1];
    }
    return value;
}

class DescriptorWalker {
  public:
    void Apply(uint8_t type, uint8_t tag, uint32_t value) {
        if (type == kTypeMain && tag == kMainInput) {
            input_.Add(globals_);
        } else if (type == kTypeMain && tag == kMainOutput) {
            output_.Add(globals_);
        } else if (type == kTypeGlobal) {
            ApplyGlobal(tag, value);
        }
    }

    HidReportLayout Layout() const { return {input_.LongestLength(), output_.LongestLength(), numbered_}; }

  private:
    void ApplyGlobal(uint8_t tag, uint32_t value) {
        switch (tag) {
            case kGlobalReportSize:
                globals_.reportSize = value;
                break;
            case kGlobalReportCount:
                globals_.reportCount = value;
                break;
            case kGlobalReportId:
                globals_.reportId = static_cast<uint8_t>(value);
                numbered_ = true;
                break;
            case kGlobalPush:
                stack_.push_back(globals_);
                break;
            case kGlobalPop:
                if (!stack_.empty()) {
                    globals_ = stack_.back();
                    stack_.pop_back();
                }
                break;
            default:
                break;
        }
    }

    GlobalItems globals_;
    std::vector<GlobalItems> stack_;
    ReportSizes input_;
    ReportSizes output_;
    bool numbered_ = false;
};

// ---- hidapi ----------------------------------------------------------------------------------------

// hid_init before the first use, hid_exit after the last device has closed: the backends and every
// open device share the one runtime of the process.
class HidapiRuntime {
  public:
    HidapiRuntime() : ready_(hid_init() == 0) {}
    ~HidapiRuntime() { hid_exit(); }
    HidapiRuntime(const HidapiRuntime&) = delete;
    HidapiRuntime& operator=(const HidapiRuntime&) = delete;

    bool ready() const { return ready_; }

    static std::shared_ptr<HidapiRuntime> Acquire() {
        static std::mutex mutex;
        static std::weak_ptr<HidapiRuntime> current;
        const std::lock_guard lock(mutex);
        std::shared_ptr<HidapiRuntime> runtime = current.lock();
        if (!runtime) {
            runtime = std::make_shared<HidapiRuntime>();
            current = runtime;
        }
        return runtime;
    }

  private:
    bool ready_;
};

struct HidDeviceCloser {
    void operator()(hid_device* device) const { hid_close(device); }
};
using HidDeviceHandle = std::unique_ptr<hid_device, HidDeviceCloser>;

struct EnumerationFreer {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
using EnumerationList = std::unique_ptr<hid_device_info, EnumerationFreer>;

std::size_t UsableLength(std::size_t declared) {
    return declared > 1 && declared <= kMaxReportLength ? declared : kFallbackReportLength;
}

class HidapiDevice final : public HidDevice {
  public:
    HidapiDevice(std::shared_ptr<HidapiRuntime> runtime, HidDeviceHandle handle,
                 const HidReportLayout& layout)
        : runtime_(std::move(runtime)),
          handle_(std::move(handle)),
          layout_(layout),
          inputBuffer_(std::max(layout.inputLength, kFallbackReportLength), 0) {}

    std::size_t InputReportLength() const override { return layout_.inputLength; }
    std::size_t OutputReportLength() const override { return layout_.outputLength; }

    bool WriteReport(std::span<const uint8_t> report) override {
        const int written = hid_write(handle_.get(), report.data(), report.size());
        return written >= 0 && static_cast<std::size_t>(written) == report.size();
    }

    bool ReadChunk(HidChunk& chunk) override { return ReadWaiting(chunk, kNoWait); }

    bool ReadChunkWithin(HidChunk& chunk, Milliseconds timeout) override {
        // hidapi's hidraw backend waits in poll(), so the thread sleeps until the report comes.
        const auto bounded = std::clamp<Milliseconds::rep>(timeout.count(), kNoWait, kLongestWaitMs);
        return ReadWaiting(chunk, static_cast<int>(bounded));
    }

  private:
    // hid_read_timeout with a wait of `waitMs` (0: do not wait).
    bool ReadWaiting(HidChunk& chunk, int waitMs) {
        std::fill(inputBuffer_.begin(), inputBuffer_.end(), 0);
        const int read = hid_read_timeout(handle_.get(), inputBuffer_.data(), inputBuffer_.size(), waitMs);
        if (read <= 0) {
            return false;
        }
        // hidraw hands over the report id only when the device numbers its reports.
        const std::size_t idBytes = layout_.numbered ? 1 : 0;
        const std::size_t received = std::min(static_cast<std::size_t>(read), inputBuffer_.size());
        const std::size_t payload = received > idBytes ? received - idBytes : 0;
        chunk.fill(0);
        std::copy_n(inputBuffer_.begin() + static_cast<std::ptrdiff_t>(idBytes),
                    std::min(payload, chunk.size()), chunk.begin());
        return true;
    }

    std::shared_ptr<HidapiRuntime> runtime_;  // declared first: outlives the handle
    HidDeviceHandle handle_;
    HidReportLayout layout_;
    std::vector<uint8_t> inputBuffer_;
};

// hidapi keeps the reason an open failed in a message of its own; opening the node the way it does
// tells the errno (EACCES when the udev rule that grants access is missing).
int OpenErrorOf(const std::string& path) {
    const UniqueFd node(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    return node ? EIO : errno;
}

class HidapiBackend final : public HidBackend {
  public:
    HidapiBackend() : runtime_(HidapiRuntime::Acquire()) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> devices;
        if (!runtime_->ready()) {
            return devices;
        }
        const EnumerationList list(hid_enumerate(0, 0));
        for (const hid_device_info* item = list.get(); item != nullptr; item = item->next) {
            if (item->path != nullptr) {
                devices.push_back({item->path, item->vendor_id, item->product_id});
            }
        }
        return devices;
    }

    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        if (!runtime_->ready()) {
            return nullptr;
        }
        HidDeviceHandle handle(hid_open_path(info.path.c_str()));
        if (!handle) {
            errno = OpenErrorOf(info.path);
            return nullptr;
        }
        return std::make_unique<HidapiDevice>(runtime_, std::move(handle), ReportLayoutOfNode(info.path));
    }

  private:
    std::shared_ptr<HidapiRuntime> runtime_;
};

}  // namespace

HidReportLayout ParseReportDescriptor(std::span<const uint8_t> descriptor) {
    DescriptorWalker walker;
    std::size_t position = 0;
    while (position < descriptor.size()) {
        const uint8_t prefix = descriptor[position];
        if (prefix == kLongItemPrefix) {
            // Long items carry nothing about report sizes; skip them whole.
            if (position + 1 >= descriptor.size()) {
                break;
            }
            position += kLongItemHeader + descriptor[position + 1];
            continue;
        }
        const std::size_t dataSize = kItemDataSizes[prefix & kSizeMask];
        if (position + 1 + dataSize > descriptor.size()) {
            break;  // truncated item
        }
        const uint8_t type = (prefix >> kTypeShift) & kTypeMask;
        const uint8_t tag = prefix >> kTagShift;
        walker.Apply(type, tag, ItemValue(descriptor.subspan(position + 1, dataSize)));
        position += 1 + dataSize;
    }
    return walker.Layout();
}

// hidapi does not give the report lengths, so they come from the report descriptor of the hidraw
// node. A descriptor that cannot be read leaves the reader's own 65-byte reports, unnumbered.
HidReportLayout ReportLayoutOfNode(const std::string& path) {
    HidReportLayout layout;
    const UniqueFd node(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    int size = 0;
    hidraw_report_descriptor descriptor{};
    if (node && ::ioctl(node.get(), HIDIOCGRDESCSIZE, &size) == 0 && size > 0 &&
        static_cast<std::size_t>(size) <= sizeof(descriptor.value)) {
        descriptor.size = static_cast<uint32_t>(size);
        if (::ioctl(node.get(), HIDIOCGRDESC, &descriptor) == 0) {
            layout = ParseReportDescriptor(std::span<const uint8_t>(descriptor.value, descriptor.size));
        }
    }
    layout.inputLength = UsableLength(layout.inputLength);
    layout.outputLength = UsableLength(layout.outputLength);
    return layout;
}

std::unique_ptr<HidBackend> MakeHidapiBackend() {
    return std::make_unique<HidapiBackend>();
}

}  // namespace zendrik
