#pragma once

#include <QPen>
#include <QPushButton>

namespace zendrik::tool {

// The window's action buttons: a flat green face with the caption centred on it, framed in gold
// while the pointer rests on the button. A held button moves its caption one pixel right and down;
// a disabled one keeps its face, greys its caption and never shows the frame.
class CHoverButton : public QPushButton {
    Q_OBJECT

  public:
    static constexpr QRgb kFaceColour = qRgb(122, 192, 43);
    static constexpr QRgb kLeftFrameColour = qRgb(250, 196, 88);
    static constexpr QRgb kRightFrameColour = qRgb(251, 202, 106);
    static constexpr QRgb kTopFrameColour = qRgb(252, 210, 121);
    static constexpr QRgb kBottomFrameColour = qRgb(229, 151, 0);
    // Dark enough to read at better than 3:1 on the green face, unlike the toolkit's light grey.
    static constexpr QRgb kDisabledCaptionColour = qRgb(84, 84, 84);

    explicit CHoverButton(const QString& text, QWidget* parent = nullptr);

    bool IsHovered() const { return hovered_; }

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void DrawFrame(QPainter& painter) const;
    void DrawCaption(QPainter& painter) const;

    bool hovered_ = false;
    // Made once and reused by every paint.
    QPen leftPen_;
    QPen rightPen_;
    QPen topPen_;
    QPen bottomPen_;
};

}  // namespace zendrik::tool
