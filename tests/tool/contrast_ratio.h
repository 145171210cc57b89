// The contrast ratio of two colours as the web's accessibility guidelines define it: relative
// luminances of the linearised sRGB channels, (lighter + 0.05) / (darker + 0.05), from 1 to 21.
#pragma once

#include <QColor>
#include <algorithm>
#include <cmath>

namespace zendrik::tool::testing {

inline double RelativeLuminance(QRgb colour) {
    const auto linear = [](int channel) {
        const double value = channel / 255.0;
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

inline double ContrastRatio(QRgb first, QRgb second) {
    const double a = RelativeLuminance(first);
    const double b = RelativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

}  // namespace zendrik::tool::testing
