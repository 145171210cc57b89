// The rules behind the handlers that need no reader: connect inputs, the checks of Save Changes,
// and card numbers and row matching.
#include <QtTest>

#include "tests/tool/tool_tests.h"
#include "tool/card_number.h"
#include "tool/connection_inputs.h"
#include "tool/save_checks.h"

using namespace zendrik::tool;

namespace {

SaveInputs Saveable() {
    SaveInputs inputs;
    inputs.wiegandInterval = 2;
    inputs.triggerTime = 3;
    inputs.frequencyStart = 0;
    inputs.frequencyEnd = 52;
    inputs.wiegand26 = true;
    inputs.lengthIndex = -1;
    return inputs;
}

}  // namespace

class HandlerRulesTest : public QObject {
    Q_OBJECT

  private slots:
    void connectInputs() {
        QCOMPARE(BaudRateForIndex(4), 115200);
        QCOMPARE(BaudRateForIndex(0), 9600);
        QCOMPARE(BaudRateForIndex(-1), 9600);
        QCOMPARE(BaudRateForIndex(5), 9600);
        QCOMPARE(SerialPortNumber(QStringLiteral("COM3")), 3);
        QCOMPARE(SerialPortNumber(QStringLiteral("COM12")), 12);
        QCOMPARE(SerialPortNumber(QStringLiteral("COM 7x")), 7);
        QCOMPARE(SerialPortNumber(QStringLiteral("COM")), 0);
        QCOMPARE(SerialPortNumber(QString()), 0);
        QCOMPARE(SerialPortNumber(QStringLiteral("COM123456789")), 123456);  // 9 characters at most
        QCOMPARE(IpAddressText(QStringLiteral("192.168.1.250")), QStringLiteral("192.168.1.250"));
        QCOMPARE(IpAddressText(QString()), QStringLiteral("0.0.0.0"));
        QCOMPARE(IpAddressText(QStringLiteral("10.1")), QStringLiteral("10.1.0.0"));
    }

    void saveChecks() {
        struct Case {
            const char* name;
            void (*change)(SaveInputs&);
            std::optional<SaveRefusal> refusal;
        };
        const Case cases[] = {
            {"saveable", [](SaveInputs&) {}, std::nullopt},
            {"interval 0", [](SaveInputs& i) { i.wiegandInterval = 0; }, SaveRefusal::kOutputTime},
            {"interval 21", [](SaveInputs& i) { i.wiegandInterval = 21; }, SaveRefusal::kOutputTime},
            {"interval 20", [](SaveInputs& i) { i.wiegandInterval = 20; }, std::nullopt},
            {"trigger 255", [](SaveInputs& i) { i.triggerTime = 255; }, SaveRefusal::kReadTime},
            {"trigger 254", [](SaveInputs& i) { i.triggerTime = 254; }, std::nullopt},
            {"end below start",
             [](SaveInputs& i) {
                 i.frequencyStart = 3;
                 i.frequencyEnd = 2;
             },
             SaveRefusal::kFrequency},
            {"channels in any order",
             [](SaveInputs& i) {
                 i.readerKind = 2;
                 i.frequencyStart = 3;
                 i.frequencyEnd = 2;
             },
             std::nullopt},
            {"no channel",
             [](SaveInputs& i) {
                 i.readerKind = 2;
                 i.frequencyStart = -1;
             },
             SaveRefusal::kFrequency},
            {"34 from 8",
             [](SaveInputs& i) {
                 i.wiegand26 = false;
                 i.wiegand34 = true;
                 i.startByte = 8;
             },
             std::nullopt},
            {"34 from 9",
             [](SaveInputs& i) {
                 i.wiegand26 = false;
                 i.wiegand34 = true;
                 i.startByte = 9;
             },
             SaveRefusal::kStartBytes},
            {"26 from 9", [](SaveInputs& i) { i.startByte = 9; }, std::nullopt},
            {"26 from 10", [](SaveInputs& i) { i.startByte = 10; }, SaveRefusal::kStartBytes},
            {"no start byte", [](SaveInputs& i) { i.startByte = -1; }, SaveRefusal::kStartBytes},
            {"serial 11 + 1",
             [](SaveInputs& i) {
                 i.usb = false;
                 i.startByte = 11;
                 i.lengthIndex = 0;
             },
             std::nullopt},
            {"serial 11 + 2",
             [](SaveInputs& i) {
                 i.usb = false;
                 i.startByte = 11;
                 i.lengthIndex = 1;
             },
             SaveRefusal::kLengthBytes},
            {"serial 10 ignores the format",
             [](SaveInputs& i) {
                 i.usb = false;
                 i.startByte = 10;
                 i.lengthIndex = 0;
             },
             std::nullopt},
            {"serial no length", [](SaveInputs& i) { i.usb = false; }, SaveRefusal::kLengthBytes},
            {"no power", [](SaveInputs& i) { i.powerIndex = -1; }, SaveRefusal::kPower},
            {"no power, kind 2",
             [](SaveInputs& i) {
                 i.readerKind = 2;
                 i.powerIndex = -1;
             },
             SaveRefusal::kPower},
            {"no power for a kind without a power list",
             [](SaveInputs& i) {
                 i.readerKind = 3;
                 i.powerIndex = -1;
             },
             std::nullopt},
            {"first failure wins",
             [](SaveInputs& i) {
                 i.wiegandInterval = 0;
                 i.triggerTime = 0;
             },
             SaveRefusal::kOutputTime},
        };
        for (const Case& test : cases) {
            SaveInputs inputs = Saveable();
            test.change(inputs);
            QVERIFY2(FirstSaveRefusal(inputs) == test.refusal, test.name);
        }
    }

    void cardNumbers() {
        // Kind 0 frames the EPC after the antenna byte and the PC word; kind 2 after the PC word.
        const std::array<uint8_t, kTagDataSize> data{0xA0, 0x30, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
        QCOMPARE(WiegandNumberText(0, data, 16, {2, false, true}), std::optional(QStringLiteral("01193046")));
        QCOMPARE(WiegandNumberText(0, data, 16, {2, true, false}),
                 std::optional(QStringLiteral("2018915346")));
        QCOMPARE(WiegandNumberText(2, data, 14, {3, false, true}), std::optional(QStringLiteral("01193046")));
        QVERIFY(!WiegandNumberText(0, data, 16, {9, true, true}));  // 9 + 4 > 12
        QVERIFY(!WiegandNumberText(0, data, 16, {-1, false, true}));
        QVERIFY(!WiegandNumberText(0, data, 25, {0, false, true}));  // an EPC of 21 is a misread
        QCOMPARE(EpcWindowFor(0, data, 16).bytes[2], uint8_t{0x12});
        QCOMPARE(EpcWindowFor(2, data, 14).bytes[3], uint8_t{0x12});
        QCOMPARE(AntennaFirstEpcWindow(data, 2).length, uint8_t{254});  // the length wraps as a byte

        QCOMPARE(RowNumberText(1), QStringLiteral("1"));
        QCOMPARE(RowNumberText(15), QStringLiteral("f"));
        QCOMPARE(RowNumberText(256), QStringLiteral("0"));
        QCOMPARE(RowNumberText(257), QStringLiteral("1"));
        QCOMPARE(SuccessTimesOf(QString()), 0u);
        QCOMPARE(SuccessTimesOf(QStringLiteral("1000")), 1000u);
        QCOMPARE(HexPairsText(std::array<uint8_t, 2>{0x0a, 0xff}), QStringLiteral("0aff"));

        const std::array<uint8_t, 5> wiegandAsHex{0x03, 0x05, 0x41, 0x98, 0x96};
        QVERIFY(HexTextEquals(QStringLiteral("0305419896"), wiegandAsHex));
        QVERIFY(!HexTextEquals(QStringLiteral("030541989600"), wiegandAsHex));
        QVERIFY(!HexTextEquals(QStringLiteral("other"), wiegandAsHex));
        QVERIFY(HexTextStartsWith(QStringLiteral("030541989600"), wiegandAsHex));
        QVERIFY(!HexTextStartsWith(QStringLiteral("0305"), wiegandAsHex));
        QVERIFY(PrefixMatches(QStringLiteral("0119304612"), QStringLiteral("01193046")));
        QVERIFY(!PrefixMatches(QStringLiteral("0119304"), QStringLiteral("01193046")));
    }
};

ZENDRIK_TOOL_TEST(HandlerRulesTest);
#include "handler_rules_test.moc"
