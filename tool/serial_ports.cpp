#include "tool/serial_ports.h"

#include <libserialport.h>

#include <array>
#include <filesystem>
#include <memory>
#include <system_error>

#include "zendrik.h"

namespace zendrik::tool {
namespace {

constexpr int kComIndexCount = 20;  // COM1..COM20
constexpr std::size_t kDevicePathCapacity = 512;
constexpr char kComPrefix[] = "COM";

struct PortListDeleter {
    void operator()(sp_port** ports) const { sp_free_port_list(ports); }
};
struct PortDeleter {
    void operator()(sp_port* port) const { sp_free_port(port); }
};
using PortList = std::unique_ptr<sp_port*, PortListDeleter>;
using Port = std::unique_ptr<sp_port, PortDeleter>;

std::string CanonicalPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(path, error);
    return error ? path : canonical.string();
}

std::string Text(const char* text) {
    return text == nullptr ? std::string() : std::string(text);
}

bool CanOpen(const std::string& devicePath) {
    sp_port* raw = nullptr;
    if (sp_get_port_by_name(devicePath.c_str(), &raw) != SP_OK) {
        return false;
    }
    Port port(raw);
    if (sp_open(port.get(), SP_MODE_READ_WRITE) != SP_OK) {
        return false;
    }
    sp_close(port.get());
    return true;
}

// A friendly name "<name> (COMn)" is cut back to "<name>" when it has nothing after the ")".
std::string DescriptionFromFriendlyName(const std::string& friendlyName) {
    const std::size_t open = friendlyName.find(" (");
    const std::size_t close = friendlyName.find(')');
    if (open != std::string::npos && open > 0 && close == friendlyName.size() - 1) {
        return friendlyName.substr(0, open);
    }
    return friendlyName;
}

}  // namespace

std::optional<int> LibraryComNumber(const std::string& devicePath) {
    const std::string wanted = CanonicalPath(devicePath);
    for (int index = 0; index < kComIndexCount; ++index) {
        std::array<char, kDevicePathCapacity> path{};
        if (GetComDevicePath(index, path.data(), static_cast<int32_t>(path.size())) != ZENDRIK_OK) {
            continue;
        }
        if (CanonicalPath(path.data()) == wanted) {
            return index + 1;
        }
    }
    return std::nullopt;
}

std::vector<SerialPortInfo> BuildPortRecords(const std::vector<FoundPort>& found,
                                             const ComNumberLookup& lookup) {
    std::vector<SerialPortInfo> records;
    for (const FoundPort& port : found) {
        const std::optional<int> comNumber = lookup(port.devicePath);
        if (!comNumber) {
            continue;
        }
        SerialPortInfo record;
        record.devicePath = port.devicePath;
        record.portName = kComPrefix + std::to_string(*comNumber);
        record.friendlyName =
            port.description.empty() ? record.portName : port.description + " (" + record.portName + ")";
        record.isUsb = port.isUsb;
        record.portDescription =
            port.description.empty() ? DescriptionFromFriendlyName(record.friendlyName) : port.description;
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<SerialPortInfo> EnumerateSerialPorts(bool probe) {
    sp_port** rawList = nullptr;
    if (sp_list_ports(&rawList) != SP_OK) {
        return {};
    }
    const PortList list(rawList);
    std::vector<FoundPort> found;
    for (sp_port** port = list.get(); *port != nullptr; ++port) {
        found.push_back({Text(sp_get_port_name(*port)), Text(sp_get_port_description(*port)),
                         sp_get_port_transport(*port) == SP_TRANSPORT_USB});
    }
    std::vector<SerialPortInfo> records = BuildPortRecords(found, LibraryComNumber);
    if (probe) {
        std::erase_if(records, [](const SerialPortInfo& record) { return !CanOpen(record.devicePath); });
    }
    return records;
}

QStringList ExtractComNames(const std::vector<std::string>& friendlyNames) {
    QStringList names;
    for (const std::string& friendlyName : friendlyNames) {
        const std::size_t start = friendlyName.find(kComPrefix);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = start + sizeof(kComPrefix) - 1;
        while (end < friendlyName.size() && friendlyName[end] >= '0' && friendlyName[end] <= '9') {
            ++end;
        }
        names.append(QString::fromStdString(friendlyName.substr(start, end - start)));
    }
    return names;
}

}  // namespace zendrik::tool
