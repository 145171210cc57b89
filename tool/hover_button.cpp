#include "tool/hover_button.h"

#include <QEnterEvent>
#include <QPainter>

namespace zendrik::tool {
namespace {

constexpr int kSideFrameWidth = 3;
constexpr int kTopBottomFrameWidth = 2;
constexpr int kPressedOffset = 1;

QPen FramePen(QRgb colour, int width) {
    QPen pen{QColor(colour)};
    pen.setWidth(width);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

}  // namespace

CHoverButton::CHoverButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent),
      leftPen_(FramePen(kLeftFrameColour, kSideFrameWidth)),
      rightPen_(FramePen(kRightFrameColour, kSideFrameWidth)),
      topPen_(FramePen(kTopFrameColour, kTopBottomFrameWidth)),
      bottomPen_(FramePen(kBottomFrameColour, kTopBottomFrameWidth)) {
    setAttribute(Qt::WA_Hover);
}

// Qt reports the pointer's arrival to disabled widgets too; a disabled button shows no frame.
void CHoverButton::enterEvent(QEnterEvent* event) {
    if (isEnabled()) {
        hovered_ = true;
        update();
    }
    QPushButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QPushButton::leaveEvent(event);
}

// A button disabled under the pointer (Connect, once it has connected) drops its frame; one enabled
// under the pointer takes it up without waiting for the pointer to leave and come back.
void CHoverButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        hovered_ = isEnabled() && underMouse();
        update();
    }
    QPushButton::changeEvent(event);
}

void CHoverButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(kFaceColour));
    if (hovered_) {
        DrawFrame(painter);
    }
    DrawCaption(painter);
}

// Each edge is drawn inside the button, its pen's full width visible.
void CHoverButton::DrawFrame(QPainter& painter) const {
    const QRect area = rect();
    const int sideInset = kSideFrameWidth / 2;
    const int topBottomInset = kTopBottomFrameWidth / 2;
    const int left = area.left() + sideInset;
    const int right = area.right() - sideInset;
    const int top = area.top() + topBottomInset;
    const int bottom = area.bottom() - topBottomInset + 1;
    painter.setPen(leftPen_);
    painter.drawLine(left, area.bottom(), left, area.top());
    painter.setPen(rightPen_);
    painter.drawLine(right, area.bottom(), right, area.top());
    painter.setPen(topPen_);
    painter.drawLine(area.left(), top, area.right() + 1, top);
    painter.setPen(bottomPen_);
    painter.drawLine(area.left(), bottom, area.right() + 1, bottom);
}

void CHoverButton::DrawCaption(QPainter& painter) const {
    const QString caption = text();
    const QFontMetrics metrics(font());
    const QRect area = rect();
    int x = (area.left() + area.right() + 1) / 2 - metrics.horizontalAdvance(caption) / 2;
    int y = (area.top() + area.bottom() + 1) / 2 - metrics.height() / 2;
    if (isDown()) {
        x += kPressedOffset;
        y += kPressedOffset;
    }
    const QPoint baseline(x, y + metrics.ascent());
    painter.setFont(font());
    if (isEnabled()) {
        painter.setPen(palette().color(QPalette::Active, QPalette::ButtonText));
        painter.drawText(baseline, caption);
        return;
    }
    // Greyed and embossed: a light copy one pixel down and right under a grey caption.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(baseline + QPoint(1, 1), caption);
    painter.setPen(QColor(kDisabledCaptionColour));
    painter.drawText(baseline, caption);
}

}  // namespace zendrik::tool
