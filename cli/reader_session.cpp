#include "cli/reader_session.h"

#include <zendrik.h>
#include <zendrik_session.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/usb_access.h"

namespace zendrik::cli {
namespace {

// Room for a device path such as /dev/hidraw12 or /dev/serial/by-id/usb-...-if00-port0.
constexpr std::size_t kDevicePathCapacity = 4096;

// The device the address opens, by the library's reading of it; empty for none (UDP, the first
// USB reader found).
std::string DeviceOfAddress(const std::string& address) {
    std::array<char, kDevicePathCapacity> device{};
    if (zendrik_address_device(address.c_str(), device.data(), device.size(), nullptr) != ZENDRIK_OK) {
        return {};
    }
    return device.data();
}

// The codes of a device that would not open, where asking the system again tells why.
bool DeviceWouldNotOpen(int32_t code) {
    return code == ZENDRIK_ERR_PORT_OPEN || code == ZENDRIK_ERR_NO_USB_READER;
}

// What the system says about a link that could not be opened: for a USB reader that is plugged in
// but cannot be opened (whatever the code: a reader whose node is listed but refused fails to be
// written to) its node and the udev rule that grants access; else the device and its reason
// ("/dev/ttyUSB4: No such file or directory"). Empty when there is nothing to add.
std::string OpenFailureCause(const std::string& address, int32_t code) {
    if (zendrik_result_kind(code) == ZENDRIK_RESULT_KIND_TRANSPORT) {
        if (const std::optional<zendrik::UsbOpenProblem> problem = zendrik::usb_open_problem(address)) {
            return rules::UsbAccessWords(problem->device, problem->error);
        }
    }
    if (!IsLinkOpenFailure(code)) {
        return {};
    }
    const std::string device = DeviceOfAddress(address);
    if (device.empty()) {
        return {};
    }
    const zendrik::DeviceProbe probe =
        DeviceWouldNotOpen(code) ? zendrik::probe_device(device) : zendrik::DeviceProbe{};
    if (probe.error == 0) {
        return device;
    }
    return device + ": " + std::strerror(probe.error);
}

// A reader that may come later: the link failed, or nobody answered on it.
bool MayComeLater(int32_t code) {
    return zendrik_result_kind(code) == ZENDRIK_RESULT_KIND_TRANSPORT || code == ZENDRIK_ERR_STATUS;
}

std::optional<zendrik::Error> TryOpen(const ReaderChoice& choice, const zendrik::OpenOptions& options,
                                      std::optional<zendrik::Reader>& reader) {
    try {
        reader.emplace(zendrik::Reader::open(choice.address, options));
    } catch (const zendrik::Error& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace

std::string ReaderPrefix(const ReaderChoice& choice, bool several) {
    if (!several) {
        return {};
    }
    return (choice.name.empty() ? choice.address : choice.name) + ": ";
}

int OpenReader(const ReaderChoice& choice, const OpenManner& manner, OpenedReader& opened) {
    const std::string prefix = ReaderPrefix(choice, manner.several);
    zendrik::OpenOptions options;
    if (!choice.name.empty()) {
        options.name = choice.name;
    }
    const std::optional<zendrik::Error> error = TryOpen(choice, options, opened.reader);
    if (!error) {
        return kExitOk;
    }
    // Addresses and names were checked with the command line; the library checks names more
    // strictly (well-formed UTF-8).
    if (zendrik_result_kind(error->code()) == ZENDRIK_RESULT_KIND_BAD_ARGUMENT) {
        return Report(prefix + "the library refuses the reader \"" + choice.name + "=" + choice.address +
                          "\": " + zendrik::result_words(error->code()),
                      kExitUsage);
    }
    std::string failure = OpenFailureWords(error->code());
    if (const std::string cause = OpenFailureCause(choice.address, error->code()); !cause.empty()) {
        failure += ": " + cause;
    }
    if (!manner.waitIfAbsent || !MayComeLater(error->code())) {
        return Report(prefix + failure);
    }
    // Opened absent the reader needs an id before it answers: its name, else its address.
    options.name = choice.name.empty() ? choice.address : choice.name;
    options.absent_ok = true;
    if (const std::optional<zendrik::Error> absent = TryOpen(choice, options, opened.reader)) {
        // An address too long or too odd to go by is refused as an id.
        const bool idRefused = zendrik_result_kind(absent->code()) == ZENDRIK_RESULT_KIND_BAD_ARGUMENT;
        return Report(prefix + failure +
                      (idRefused ? "; to wait for it, name it with --reader NAME=ADDRESS" : ""));
    }
    opened.absent = true;
    Report(prefix + "waiting for the reader: " + failure, kExitOk);
    return kExitOk;
}

int OpenReader(const ReaderChoice& choice, std::optional<zendrik::Reader>& reader) {
    OpenedReader opened;
    const int status = OpenReader(choice, OpenManner{}, opened);
    reader = std::move(opened.reader);
    return status;
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
        return Report("cannot read the reader kind: " + zendrik::result_words(result));
    }
    return kExitOk;
}

}  // namespace zendrik::cli
