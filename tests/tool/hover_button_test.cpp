// The hover button's drawing, read back from its pixels.
#include <QEnterEvent>
#include <QImage>
#include <QtTest>

#include "tool/hover_button.h"

using namespace zendrik::tool;

namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 30;

QImage Render(CHoverButton& button) {
    return button.grab().toImage();
}

void Enter(CHoverButton& button) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
}

void Leave(CHoverButton& button) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
}

// Samples in the middle of each edge and on the face, away from the caption.
struct Samples {
    QRgb left, right, top, bottom, face;
};
Samples Sample(const QImage& image) {
    return {image.pixel(0, kHeight / 2), image.pixel(kWidth - 1, kHeight / 2), image.pixel(kWidth / 4, 0),
            image.pixel(kWidth / 4, kHeight - 1), image.pixel(6, 6)};
}

// Bounding box of pixels that differ from the face colour.
QRect CaptionBox(const QImage& image) {
    QRect box;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = 4; x < image.width() - 4; ++x) {
            if (image.pixel(x, y) != CHoverButton::kFaceColour) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

}  // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void plainFaceWithoutHover() {
        CHoverButton button(QStringLiteral("Read Tag"));
        button.resize(kWidth, kHeight);
        const Samples samples = Sample(Render(button));
        for (const QRgb pixel : {samples.left, samples.right, samples.top, samples.bottom, samples.face}) {
            QCOMPARE(pixel, CHoverButton::kFaceColour);
        }
    }

    void goldFrameOnlyWhileHovered() {
        CHoverButton button(QStringLiteral("Read Tag"));
        button.resize(kWidth, kHeight);
        Enter(button);
        QVERIFY(button.IsHovered());
        Samples samples = Sample(Render(button));
        QCOMPARE(samples.left, CHoverButton::kLeftFrameColour);
        QCOMPARE(samples.right, CHoverButton::kRightFrameColour);
        QCOMPARE(samples.top, CHoverButton::kTopFrameColour);
        QCOMPARE(samples.bottom, CHoverButton::kBottomFrameColour);
        QCOMPARE(samples.face, CHoverButton::kFaceColour);
        Leave(button);
        QVERIFY(!button.IsHovered());
        samples = Sample(Render(button));
        QCOMPARE(samples.left, CHoverButton::kFaceColour);
        QCOMPARE(samples.top, CHoverButton::kFaceColour);
    }

    void pressedCaptionMovesOnePixel() {
        CHoverButton button(QStringLiteral("Save"));
        button.resize(kWidth, kHeight);
        const QRect normal = CaptionBox(Render(button));
        QVERIFY(!normal.isEmpty());
        button.setDown(true);
        const QImage pressedImage = Render(button);
        QCOMPARE(CaptionBox(pressedImage), normal.translated(1, 1));
        QCOMPARE(Sample(pressedImage).face, CHoverButton::kFaceColour);
    }

    void disabledKeepsTheFaceAndGreysTheCaption() {
        CHoverButton button(QStringLiteral("Connect"));
        button.resize(kWidth, kHeight);
        const QImage enabledImage = Render(button);
        button.setEnabled(false);
        const QImage disabledImage = Render(button);
        QCOMPARE(Sample(disabledImage).face, CHoverButton::kFaceColour);
        QVERIFY(!CaptionBox(disabledImage).isEmpty());
        QVERIFY(disabledImage != enabledImage);
    }
};

QTEST_MAIN(HoverButtonTest)
#include "hover_button_test.moc"
