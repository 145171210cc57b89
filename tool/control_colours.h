#pragma once

#include <QColor>

class QWidget;

namespace zendrik::tool {

// The window's colour scheme: a dark grey dialog with white captions, white edit fields with black
// text, and the toolkit's own colours for push buttons, lists and message boxes. A disabled control
// is greyed out: grey text on the grey patch of the captions, so that a disabled edit field looks
// like a caption and a disabled caption looks dimmed, and the grey still reads at better than 3:1.
namespace colours {
inline constexpr QRgb kDialogFill = qRgb(88, 93, 99);
inline constexpr QRgb kCaptionBackground = qRgb(92, 92, 92);
inline constexpr QRgb kCaptionText = qRgb(255, 255, 255);
inline constexpr QRgb kEditBackground = qRgb(255, 255, 255);
inline constexpr QRgb kEditText = qRgb(0, 0, 0);
inline constexpr QRgb kScrollBarFill = qRgb(233, 233, 220);
inline constexpr QRgb kDisabledText = qRgb(184, 184, 184);
inline constexpr QRgb kDisabledBackground = kCaptionBackground;
}  // namespace colours

// Gives the dialog and each of its controls the palette of its kind. Palettes do not travel to
// separate windows, so message boxes owned by the dialog keep the toolkit's colours.
void ApplyControlColours(QWidget* dialog);

}  // namespace zendrik::tool
