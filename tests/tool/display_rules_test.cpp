// The display rules and the frequency plan, checked against the plans readers report.
#include <QtTest>
#include <array>
#include <limits>

#include "tests/tool/tool_tests.h"
#include "tool/display_rules.h"

using namespace zendrik::tool;

class DisplayRulesTest : public QObject {
    Q_OBJECT

  private slots:
    void bandRadioPlans() {
        QCOMPARE(BandListEntries(kFccRadioPlan.band).size(), 53);
        QCOMPARE(BandListEntries(kFccRadioPlan.band).at(kFccRadioPlan.endIndex), QStringLiteral("917000"));
        QCOMPARE(BandListEntries(kEtsiRadioPlan.band).at(kEtsiRadioPlan.endIndex), QStringLiteral("866500"));
    }

    void wiegandStartBytes() {
        const ListContents wiegand26 = WiegandStartBytes(kWiegand26Code);
        QCOMPARE(wiegand26.entries.back(), QStringLiteral("9"));
        QCOMPARE(wiegand26.selectedIndex, 0);
        QCOMPARE(WiegandStartBytes(kWiegand34Code).entries.size(), 9);
    }

    void channelListDefaultsAndRequestedSelections() {
        const ChannelLists defaults = ChannelListsFor(0, kNoSelection, kNoSelection);
        QCOMPARE(defaults.start.selectedIndex, 0);
        QCOMPARE(defaults.end.selectedIndex, 62);
        const ChannelLists chosen = ChannelListsFor(3, 2, 7);
        QCOMPARE(chosen.start.selectedIndex, 2);
        QCOMPARE(chosen.end.selectedIndex, 7);
        const ChannelLists empty = ChannelListsFor(5, kNoSelection, kNoSelection);
        QVERIFY(empty.start.entries.isEmpty());
        QCOMPARE(empty.start.selectedIndex, kNoSelection);
        QCOMPARE(empty.end.selectedIndex, kNoSelection);
    }

    void frequencyDisplay_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("span");
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("startText");
        QTest::addColumn<QString>("endText");
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<int>("endIndex");
        QTest::newRow("kind 0, ETSI 865500 span 4") << 0 << 865500 << 0 << 4 << 7 << "865500"
                                                    << "867500" << 1 << 5;
        QTest::newRow("kind 0, FCC 902000 span 52") << 0 << 902000 << 0 << 52 << 53 << "902000"
                                                    << "928000" << 0 << 52;
        QTest::newRow("kind 1, FCC span beyond the band") << 1 << 927000 << 0 << 9 << 53 << "927000"
                                                          << "" << 50 << kNoSelection;
        QTest::newRow("kind 0, below the ETSI band") << 0 << 864000 << 0 << 1 << 7 << ""
                                                     << "" << kNoSelection << kNoSelection;
        QTest::newRow("kind 0, lowest 32-bit frequency")
            << 0 << std::numeric_limits<int32_t>::min() << 0 << 255 << 7 << ""
            << "" << kNoSelection << kNoSelection;
        QTest::newRow("kind 1, highest 32-bit frequency")
            << 1 << std::numeric_limits<int32_t>::max() << 0 << 255 << 53 << ""
            << "" << kNoSelection << kNoSelection;
        QTest::newRow("kind 2, channels 1 and 63") << 2 << 1 << 63 << 0 << 63 << "01--902600"
                                                   << "63--927400" << 0 << 62;
        QTest::newRow("kind 2, channel 0 selects nothing") << 2 << 0 << 0 << 0 << 63 << ""
                                                           << "" << kNoSelection << kNoSelection;
        QTest::newRow("kind 2, channel 257 is channel 1") << 2 << 257 << 2 << 0 << 63 << "01--902600"
                                                          << "02--903000" << 0 << 1;
    }
    void frequencyDisplay() {
        QFETCH(int, kind);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, span);
        QFETCH(int, entries);
        QFETCH(QString, startText);
        QFETCH(QString, endText);
        QFETCH(int, startIndex);
        QFETCH(int, endIndex);
        FrequencyReport report;
        report.first = first;
        report.second = second;
        report.span = static_cast<uint8_t>(span);
        const FrequencyDisplay display =
            FrequencyDisplayFor(static_cast<uint8_t>(kind), report, FrequencyForm::kReadConfiguration);
        QCOMPARE(display.start.entries.size(), entries);
        QCOMPARE(display.end.entries, display.start.entries);
        QCOMPARE(display.start.selectedIndex, startIndex);
        QCOMPARE(display.end.selectedIndex, endIndex);
        QCOMPARE(display.start.entries.value(startIndex), startText);
        QCOMPARE(display.end.entries.value(endIndex), endText);
    }

    void frequencyDisplayForms() {
        FrequencyReport etsi;
        etsi.first = 865000;
        const FrequencyDisplay connect = FrequencyDisplayFor(0, etsi, FrequencyForm::kConnect);
        QCOMPARE(connect.fccChecked, std::optional<bool>(false));
        QVERIFY(connect.showFields);
        const FrequencyDisplay read = FrequencyDisplayFor(0, etsi, FrequencyForm::kReadConfiguration);
        QVERIFY(!read.fccChecked.has_value());
        QVERIFY(!read.showFields);
        FrequencyReport fcc;
        fcc.first = 915000;
        QCOMPARE(FrequencyDisplayFor(1, fcc, FrequencyForm::kConnect).fccChecked, std::optional<bool>(true));
        // Channel readers always show the fields and never touch the band radios.
        const FrequencyDisplay channels = FrequencyDisplayFor(2, fcc, FrequencyForm::kReadConfiguration);
        QVERIFY(!channels.fccChecked.has_value());
        QVERIFY(channels.showFields);
    }

    void powerList_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("firstEntry");
        QTest::addColumn<int>("selected");
        QTest::newRow("kind 0, 33") << 0 << 33 << 34 << "0" << 33;
        QTest::newRow("kind 0, 34 is off the list") << 0 << 34 << 34 << "0" << kNoSelection;
        QTest::newRow("kind 1, 26 is the last") << 1 << 26 << 9 << "18" << 8;
        QTest::newRow("kind 1, 18 is the first") << 1 << 18 << 9 << "18" << 0;
        QTest::newRow("kind 1, 10 selects nothing") << 1 << 10 << 9 << "18" << kNoSelection;
        QTest::newRow("kind 2, 63") << 2 << 63 << 64 << "0" << 63;
    }
    void powerList() {
        QFETCH(int, kind);
        QFETCH(int, power);
        QFETCH(int, entries);
        QFETCH(QString, firstEntry);
        QFETCH(int, selected);
        const std::optional<ListContents> list =
            PowerListFor(static_cast<uint8_t>(kind), static_cast<uint8_t>(power));
        QVERIFY(list.has_value());
        QCOMPARE(list->entries.size(), entries);
        QCOMPARE(list->entries.front(), firstEntry);
        QCOMPARE(list->selectedIndex, selected);
    }

    void powerListOfUnknownKindIsLeftAlone() { QVERIFY(!PowerListFor(3, 10).has_value()); }

    void wiegandDisplay() {
        const std::array<uint8_t, kOutputBytesSize> inverted = {1, 11, 3, 1};
        const WiegandDisplay shown = WiegandDisplayFor(inverted);
        QVERIFY(shown.inverted);
        QCOMPARE(shown.startBytes.entries.size(), 12);
        QCOMPARE(shown.startBytes.entries.back(), QStringLiteral("11"));
        QCOMPARE(shown.startBytes.selectedIndex, 11);
        const std::array<uint8_t, kOutputBytesSize> forwardOffList = {1, 12, 3, 0};
        const WiegandDisplay forward = WiegandDisplayFor(forwardOffList);
        QVERIFY(!forward.inverted);
        QCOMPARE(forward.startBytes.selectedIndex, kNoSelection);
    }

    void textConversions() {
        QCOMPARE(HexPair(0x0A), QStringLiteral("0a"));
        QCOMPARE(HexPair(0xFF), QStringLiteral("ff"));
        QCOMPARE(HexPair(0x00), QStringLiteral("00"));
        const std::array<uint8_t, kPasswordBytes> password = {0x5E, 0x2B, 0x90, 0x07};
        QCOMPARE(PasswordText(password), QStringLiteral("5e2b9007"));
        std::array<uint8_t, 50> serial{};
        for (std::size_t i = 0; i < serial.size(); ++i) {
            serial[i] = static_cast<uint8_t>(i);
        }
        QCOMPARE(SerialNumberText(serial), QStringLiteral("SN:000102030405060708090a0b"));
        QCOMPARE(SerialNumberText(std::span<const uint8_t>(serial).first(2)), QStringLiteral("SN:0001"));
    }
};

ZENDRIK_TOOL_TEST_GUILESS(DisplayRulesTest);
#include "display_rules_test.moc"
