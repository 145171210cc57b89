#pragma once

#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zendrik::tool {

// One serial port of the machine.
struct SerialPortInfo {
    std::string devicePath;    // what to open, e.g. /dev/ttyUSB0
    std::string portName;      // its COM name, e.g. COM5
    std::string friendlyName;  // "<description> (COM5)"
    bool isUsb = false;
    std::string portDescription;  // the description alone
};

// A port as the system lists it, before it is given a COM name.
struct FoundPort {
    std::string devicePath;
    std::string description;
    bool isUsb = false;
};

// Maps a device path to its COM number (1..20), or nothing when no COM index opens that device.
using ComNumberLookup = std::function<std::optional<int>(const std::string& devicePath)>;

// The COM number lookup of the library's port mapping (GetComDevicePath), which also honours the
// ZENDRIK_COMn overrides; paths are compared after resolving symbolic links.
std::optional<int> LibraryComNumber(const std::string& devicePath);

// Turns listed ports into records: ports outside the COM mapping are left out; empty names and
// descriptions are completed from each other.
std::vector<SerialPortInfo> BuildPortRecords(const std::vector<FoundPort>& found,
                                             const ComNumberLookup& lookup);

// Lists the machine's serial ports through libserialport. With probe set, a port that cannot be
// opened for reading and writing is dropped. A failing enumeration gives an empty list.
std::vector<SerialPortInfo> EnumerateSerialPorts(bool probe);

// The port names the tool offers: for each friendly name in order, the first "COM" and the digits
// that follow it ("USB Serial Port (COM12)" -> "COM12"). A name without "COM" ends the list there.
QStringList ExtractComNames(const std::vector<std::string>& friendlyNames);

}  // namespace zendrik::tool
