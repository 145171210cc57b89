// The hover button's drawing, read back from its pixels.
#include <QEnterEvent>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include "tests/tool/tool_tests.h"
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

// Contrast as accessibility guidelines measure it: (lighter + 0.05) / (darker + 0.05) of the
// relative luminances, from 1 to 21.
double ContrastRatio(QRgb first, QRgb second) {
    const auto luminance = [](QRgb colour) {
        const auto linear = [](int channel) {
            const double value = channel / 255.0;
            return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) +
               0.0722 * linear(qBlue(colour));
    };
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The caption pixel that stands out most from the face.
double StrongestCaptionContrast(const QImage& image) {
    double strongest = 1.0;
    const QRect box = CaptionBox(image);
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            strongest = std::max(strongest, ContrastRatio(image.pixel(x, y), CHoverButton::kFaceColour));
        }
    }
    return strongest;
}

bool ShowsFrame(CHoverButton& button) {
    return Sample(Render(button)).left == CHoverButton::kLeftFrameColour;
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
        // Greyed, yet readable on the green face.
        QVERIFY2(StrongestCaptionContrast(disabledImage) >= 3.0,
                 qPrintable(QString::number(StrongestCaptionContrast(disabledImage))));
        QVERIFY(StrongestCaptionContrast(disabledImage) < StrongestCaptionContrast(enabledImage));
    }

    // Qt tells disabled widgets that the pointer arrived, but a disabled button shows no frame.
    // Enabled again, it shows the frame only if the pointer is still on it.
    void noFrameWhileDisabled_data() {
        QTest::addColumn<bool>("enterFirst");
        QTest::addColumn<bool>("enterWhileDisabled");
        QTest::addColumn<bool>("leaveWhileDisabled");
        QTest::addColumn<bool>("frameWhenEnabled");
        QTest::newRow("pointer arrives at a disabled button") << false << true << false << true;
        QTest::newRow("disabled under the pointer") << true << false << false << true;
        QTest::newRow("pointer leaves while disabled") << true << false << true << false;
    }
    void noFrameWhileDisabled() {
        QFETCH(bool, enterFirst);
        QFETCH(bool, enterWhileDisabled);
        QFETCH(bool, leaveWhileDisabled);
        QFETCH(bool, frameWhenEnabled);
        CHoverButton button(QStringLiteral("Connect"));
        button.resize(kWidth, kHeight);
        if (enterFirst) {
            Enter(button);
            QVERIFY(ShowsFrame(button));
        }
        button.setEnabled(false);
        if (enterWhileDisabled) {
            Enter(button);
        }
        QVERIFY(!button.IsHovered());
        QVERIFY(!ShowsFrame(button));
        if (leaveWhileDisabled) {
            Leave(button);
        }
        button.setEnabled(true);
        QCOMPARE(button.IsHovered(), frameWhenEnabled);
        QCOMPARE(ShowsFrame(button), frameWhenEnabled);
    }
};

ZENDRIK_TOOL_TEST(HoverButtonTest);
#include "hover_button_test.moc"
