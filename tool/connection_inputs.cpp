#include "tool/connection_inputs.h"

#include <QStringList>
#include <array>

namespace zendrik::tool {
namespace {

constexpr std::array<int32_t, 5> kBaudRates{9600, 19200, 38400, 57600, 115200};
constexpr int32_t kFallbackBaudRate = 9600;

// The port list's text is taken as the original window took it: at most 9 characters, the number
// starting at the fourth.
constexpr qsizetype kPortTextLimit = 9;
constexpr qsizetype kPortNumberOffset = 3;  // after "COM"
constexpr int kPortNumberBase = 10;

constexpr int kIpv4Parts = 4;
constexpr uint kIpv4PartMask = 0xFF;

}  // namespace

int32_t BaudRateForIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kBaudRates.size())) {
        return kFallbackBaudRate;
    }
    return kBaudRates[static_cast<std::size_t>(index)];
}

int SerialPortNumber(const QString& entry) {
    const QString text = entry.left(kPortTextLimit);
    qsizetype position = kPortNumberOffset;
    while (position < text.size() && text[position].isSpace()) {
        ++position;
    }
    int number = 0;
    for (; position < text.size() && text[position] >= u'0' && text[position] <= u'9'; ++position) {
        number = number * kPortNumberBase + (text[position].unicode() - u'0');
    }
    return number;
}

QString IpAddressText(const QString& fieldText) {
    const QStringList parts = fieldText.split(u'.');
    QStringList numbers;
    for (int index = 0; index < kIpv4Parts; ++index) {
        const uint value = index < parts.size() ? parts[index].trimmed().toUInt() : 0;
        numbers.append(QString::number(value & kIpv4PartMask));
    }
    return numbers.join(u'.');
}

}  // namespace zendrik::tool
