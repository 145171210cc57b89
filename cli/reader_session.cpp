#include "cli/reader_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zendrik.h>

#include <array>
#include <cerrno>
#include <string>

#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

constexpr std::string_view kFirstUsbReader = "usb";
constexpr std::string_view kUsbPathPrefix = "usb:";
// Room for a device node path such as /dev/hidraw12.
constexpr std::size_t kNodePathCapacity = 256;
// OpenCom takes a line speed, which a USB link does not use.
constexpr int32_t kUnusedLineSpeed = 115200;

struct UsbOpenFailure {
    std::string node;
    int error = 0;
};

// Closes a descriptor when it goes.
struct OwnedDescriptor {
    int fd = -1;
    ~OwnedDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Whether a USB reader is plugged in but its device node cannot be opened (no udev rule). For the
// first reader found the flat exports locate it the way a session does and keep the cause;
// locating sends nothing to the reader. A named hidraw node is simply tried.
std::optional<UsbOpenFailure> FindUsbOpenFailure(const std::string& address) {
    if (address == kFirstUsbReader) {
        std::array<char, kNodePathCapacity> node{};
        OpenCom(ZENDRIK_USB_PORT, kUnusedLineSpeed);
        const int32_t error = GetUsbOpenError(node.data(), static_cast<int32_t>(node.size()));
        CloseCom();
        return error != 0 ? std::optional(UsbOpenFailure{node.data(), error}) : std::nullopt;
    }
    if (!address.starts_with(kUsbPathPrefix)) {
        return std::nullopt;
    }
    const std::string path = address.substr(kUsbPathPrefix.size());
    struct stat status {};
    // Nothing there, or a virtual device's socket: nothing a udev rule would change.
    if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return std::nullopt;
    }
    const OwnedDescriptor device{::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK)};
    return device.fd < 0 ? std::optional(UsbOpenFailure{path, errno}) : std::nullopt;
}

}  // namespace

int OpenReader(const ReaderChoice& choice, std::optional<zendrik::Reader>& reader) {
    zendrik::OpenOptions options;
    if (!choice.name.empty()) {
        options.name = choice.name;
    }
    try {
        reader.emplace(zendrik::Reader::open(choice.address, options));
    } catch (const zendrik::Error& error) {
        // Addresses and names were checked with the command line; the library checks names more
        // strictly (well-formed UTF-8).
        if (error.code() == ZENDRIK_ERR_INVALID_ARGUMENT || error.code() == ZENDRIK_ERR_BAD_ADDRESS) {
            return Report("the library refuses the reader \"" + choice.name + "=" + choice.address +
                              "\": " + ResultWords(error.code()),
                          kExitUsage);
        }
        std::string failure = OpenFailureWords(error.code());
        if (const std::optional<UsbOpenFailure> cause = FindUsbOpenFailure(choice.address)) {
            failure += ": " + UsbOpenFailureWords(cause->node, cause->error);
        }
        return Report(failure);
    }
    return kExitOk;
}

std::optional<ReaderChoice> SingleReader(const LinkOptions& link, std::string_view subcommand) {
    std::vector<ReaderChoice> chosen = ChosenReaders(link);
    if (chosen.size() != 1) {
        Report(std::string(subcommand) + " works on one reader; --reader was given " +
                   std::to_string(chosen.size()) + " times",
               kExitUsage);
        return std::nullopt;
    }
    return std::move(chosen.front());
}

int OpenSingleReader(const LinkOptions& link, std::string_view subcommand,
                     std::optional<zendrik::Reader>& reader, uint8_t& kind) {
    const std::optional<ReaderChoice> choice = SingleReader(link, subcommand);
    if (!choice) {
        return kExitUsage;
    }
    if (const int status = OpenReader(*choice, reader); status != kExitOk) {
        return status;
    }
    if (const int32_t result = ReadKind(*reader, kind); result != ZENDRIK_OK) {
        return Report("cannot read the reader kind: " + ResultWords(result));
    }
    return kExitOk;
}

}  // namespace zendrik::cli
