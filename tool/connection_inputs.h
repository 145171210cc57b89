#pragma once

#include <QString>
#include <cstdint>

namespace zendrik::tool {

// The baud rate of an index of the connect baud list; any other index, and no selection, is 9600.
int32_t BaudRateForIndex(int index);

// The COM number of a port list entry: the decimal number after "COM" ("COM12" -> 12); 0 when the
// entry holds no digits there.
int SerialPortNumber(const QString& entry);

// The dotted text of an IP address field, every part a number ("" -> "0.0.0.0"): the address the
// field holds, as the library takes it.
QString IpAddressText(const QString& fieldText);

}  // namespace zendrik::tool
