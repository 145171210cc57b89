// Tag reading, the tag list and the service handlers against the virtual reader: card numbers
// of both Wiegand formats and of EPC fields, how rows are matched and counted, row numbers,
// clearing the list, the mode radios and the hidden service buttons.
#include <QTest>

#include "tests/tool/tool_tests.h"
#include "tests/tool/virtual_reader_window.h"

using namespace zendrik::tool;
using namespace zendrik::tool::testing;
namespace sim = zendrik::sim;

namespace {

using Bytes = std::vector<uint8_t>;

// A 12-byte EPC holding `field` from byte `at`, zeros elsewhere.
Bytes EpcWith(std::size_t at, const Bytes& field) {
    Bytes epc(12, 0);
    std::copy(field.begin(), field.end(), epc.begin() + static_cast<std::ptrdiff_t>(at));
    return epc;
}

const Bytes kWiegandBytes{0x12, 0x34, 0x56, 0x78};

}  // namespace

class TagsTest : public QObject {
    Q_OBJECT

    EmptyWorkingDirectory workingDirectory_;
    VirtualReader virtualReader_;
    std::unique_ptr<RecordingWindow> window_;

    sim::Reader& reader() { return virtualReader_.reader(); }
    RecordingWindow& window() { return *window_; }
    QTableWidget& list() { return *window().TagList(); }

    void ConnectTo(uint8_t kind) {
        if (window_ && window().Connected()) {
            window().Button(id::kDisconnect)->click();
        }
        reader().Reset(kind);
        window_ = std::make_unique<RecordingWindow>();
        window().Button(id::kConnect)->click();
        QVERIFY(window().Connected());
    }
    void PutTag(const Bytes& epc) {
        reader().ClearTags();
        reader().AddTag(epc);
    }
    void Wiegand(bool wiegand34, bool forward, int startByte) {
        window().Button(wiegand34 ? id::kWiegand34Radio : id::kWiegand26Radio)->click();
        window().Button(forward ? id::kForwardRadio : id::kInvertedRadio)->click();
        window().List(id::kStartBytesList)->setCurrentIndex(startByte);
    }
    // Rows as "No.|Card Number|Success Times|EPC Length".
    QStringList Rows() {
        QStringList rows;
        for (int row = 0; row < list().rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < list().columnCount(); ++column) {
                const QTableWidgetItem* item = list().item(row, column);
                cells.append(item != nullptr ? item->text() : QString());
            }
            rows.append(cells.join(u'|'));
        }
        return rows;
    }
    void AddRow(const QString& card, const QString& times = QStringLiteral("1")) {
        const int row = list().rowCount();
        list().insertRow(row);
        list().setItem(row, 1, std::make_unique<QTableWidgetItem>(card).release());
        list().setItem(row, 2, std::make_unique<QTableWidgetItem>(times).release());
    }
    void SetCell(int row, int column, const QString& text) {
        list().setItem(row, column, std::make_unique<QTableWidgetItem>(text).release());
    }

  private slots:
    void initTestCase() { ConnectTo(sim::kKindStandard); }

    void init() {
        if (!window().Button(id::kUsbRadio)->isChecked()) {
            window().ForceClick(id::kUsbRadio);
        }
        list().setRowCount(0);
        window().messages.clear();
        window().questions.clear();
        reader().ClearFaults();
        reader().ClearRequests();
    }

    void wiegandNumbers_data() {
        QTest::addColumn<bool>("wiegand34");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<Bytes>("field");
        QTest::addColumn<QString>("card");
        QTest::newRow("26 forward") << false << true << kWiegandBytes << QStringLiteral("01193046");
        QTest::newRow("26 reversed") << false << false << kWiegandBytes << QStringLiteral("05649426");
        QTest::newRow("34 forward") << true << true << kWiegandBytes << QStringLiteral("0305419896");
        QTest::newRow("34 reversed") << true << false << kWiegandBytes << QStringLiteral("2018915346");
        QTest::newRow("34 all ones") << true << true << Bytes(4, 0xFF) << QStringLiteral("4294967295");
    }
    void wiegandNumbers() {
        QFETCH(bool, wiegand34);
        QFETCH(bool, forward);
        QFETCH(Bytes, field);
        QFETCH(QString, card);
        PutTag(EpcWith(2, field));
        Wiegand(wiegand34, forward, 2);
        window().Button(id::kReadTag)->click();
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|") + card + QStringLiteral("|1|12")});
        // The same tag again counts on its row; No. and EPC Length stay as first written.
        window().Button(id::kReadTag)->click();
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|") + card + QStringLiteral("|2|12")});
        QCOMPARE(window().messages, QStringList());
    }

    void readsThatDoNotFitAddNothing() {
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(true, true, 0);
        window()
            .List(id::kStartBytesList)
            ->addItems({QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("11")});
        window().List(id::kStartBytesList)->setCurrentIndex(11);  // 11 + 4 bytes > the EPC's 12
        window().Button(id::kReadTag)->click();
        window().List(id::kStartBytesList)->setCurrentIndex(-1);  // no start byte: nothing to read from
        window().Button(id::kReadTag)->click();
        reader().ClearTags();  // no tag in the field
        window().List(id::kStartBytesList)->setCurrentIndex(0);
        window().Button(id::kReadTag)->click();
        QCOMPARE(Rows(), QStringList());
        QCOMPARE(window().messages, QStringList());
    }

    void aWiegand26NumberCountsOnTheWiegand34RowItBegins() {
        AddRow(QStringLiteral("0119304612"));
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().Button(id::kReadTag)->click();
        QCOMPARE(list().rowCount(), 1);
        QCOMPARE(list().item(0, 2)->text(), QStringLiteral("2"));
    }

    void successTimesKeepCountingPast999() {
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().Button(id::kReadTag)->click();
        SetCell(0, 2, QStringLiteral("999"));
        window().Button(id::kReadTag)->click();
        QCOMPARE(list().item(0, 2)->text(), QStringLiteral("1000"));
        window().Button(id::kReadTag)->click();
        QCOMPARE(list().item(0, 2)->text(), QStringLiteral("1001"));
    }

    void rowNumbersAreOneByteInHexadecimal_data() {
        QTest::addColumn<int>("rowsBefore");
        QTest::addColumn<QString>("number");
        QTest::newRow("12th") << 11 << QStringLiteral("c");
        QTest::newRow("17th") << 16 << QStringLiteral("11");
        QTest::newRow("256th") << 255 << QStringLiteral("0");
    }
    void rowNumbersAreOneByteInHexadecimal() {
        QFETCH(int, rowsBefore);
        QFETCH(QString, number);
        for (int row = 0; row < rowsBefore; ++row) {
            AddRow(QStringLiteral("other"));
        }
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().Button(id::kReadTag)->click();
        QCOMPARE(list().rowCount(), rowsBefore + 1);
        QCOMPARE(list().item(rowsBefore, 0)->text(), number);
    }

    void epcFieldReadsOverTheOtherTransports() {
        window().ForceClick(id::kComRadio);
        window().List(id::kStartBytesList)->setCurrentIndex(3);
        window().List(id::kLengthList)->setCurrentIndex(1);
        window().Button(id::kForwardRadio)->click();
        PutTag(EpcWith(3, {0x0A, 0xFF}));
        window().Button(id::kReadTag)->click();
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|0aff|1|12")});

        // A decimal Wiegand row is compared as hexadecimal pairs.
        AddRow(QStringLiteral("0305419896"));
        window().List(id::kLengthList)->setCurrentIndex(4);
        PutTag(EpcWith(3, {0x03, 0x05, 0x41, 0x98, 0x96}));
        window().Button(id::kReadTag)->click();
        QCOMPARE(list().rowCount(), 2);
        QCOMPARE(list().item(1, 2)->text(), QStringLiteral("2"));

        // A field past the tag's EPC.
        PutTag({0x01, 0x02, 0x03, 0x04});
        window().Button(id::kReadTag)->click();
        QCOMPARE(window().messages, QStringList{QStringLiteral("Freq Error!")});
        QCOMPARE(list().rowCount(), 2);
    }

    void aFieldPastTheWindowIsRefusedBeforeReading() {
        window().ForceClick(id::kComRadio);
        QComboBox* startBytes = window().List(id::kStartBytesList);
        startBytes->clear();
        for (int index = 0; index < 12; ++index) {
            startBytes->addItem(QString::number(index));
        }
        window().List(id::kStartBytesList)->setCurrentIndex(11);
        window().List(id::kLengthList)->setCurrentIndex(1);
        window().Button(id::kReadTag)->click();
        window().List(id::kStartBytesList)->setCurrentIndex(0);
        window().List(id::kLengthList)->setCurrentIndex(-1);
        window().Button(id::kReadTag)->click();
        QCOMPARE(window().messages, QStringList(2, QStringLiteral("Lenght Bytes Parameter Error!")));
        QVERIFY(!Contains(virtualReader_.StandardCommands(), command::kReadTag));
    }

    void doubleClickClearsTheListOnlyWithOk() {
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().Button(id::kReadTag)->click();
        AddRow(QStringLiteral("other"));
        window().answerOk = false;
        QTest::mouseDClick(list().viewport(), Qt::LeftButton);
        QCOMPARE(window().questions, QStringList{QStringLiteral("Warnning: Delete Record?")});
        QCOMPARE(list().rowCount(), 2);
        window().answerOk = true;
        QTest::mouseDClick(list().viewport(), Qt::LeftButton);
        QCOMPARE(list().rowCount(), 0);
        window().Button(id::kReadTag)->click();
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|01193046|1|12")});
    }

    void modeRadiosSetTheirControlsAndSendNothing() {
        window().Button(id::kAlwaysReadRadio)->click();
        QVERIFY(!window().Find<QLineEdit>(id::kTriggerTime)->isEnabled());
        window().Button(id::kTriggerRadio)->click();
        QVERIFY(window().Find<QLineEdit>(id::kTriggerTime)->isEnabled());

        window().List(id::kStartBytesList)->setCurrentIndex(5);
        window().Button(id::kWiegand26Radio)->click();
        QCOMPARE(window().List(id::kStartBytesList)->count(), 10);
        QCOMPARE(window().List(id::kStartBytesList)->itemText(9), QStringLiteral("9"));
        QCOMPARE(window().List(id::kStartBytesList)->currentIndex(), 0);
        window().List(id::kStartBytesList)->setCurrentIndex(5);
        window().Button(id::kWiegand34Radio)->click();
        QCOMPARE(window().List(id::kStartBytesList)->count(), 9);
        QCOMPARE(window().List(id::kStartBytesList)->currentText(), QStringLiteral("0"));

        for (const int transport : {id::kComRadio, id::kUdpRadio}) {
            window().ForceClick(transport);
            QVERIFY(window().List(id::kLengthList)->isEnabled());
            QVERIFY(!window().Button(id::kWiegand26Radio)->isEnabled());
            QVERIFY(!window().Button(id::kWiegand34Radio)->isEnabled());
            window().ForceClick(id::kUsbRadio);
            QVERIFY(!window().List(id::kLengthList)->isEnabled());
            QVERIFY(window().Button(id::kWiegand26Radio)->isEnabled());
            QVERIFY(window().Button(id::kWiegand34Radio)->isEnabled());
        }

        window().ForceClick(id::kFccRadio);
        QCOMPARE(window().List(id::kFreqStartList)->count(), 53);
        QCOMPARE(window().List(id::kFreqStartList)->currentText(), QStringLiteral("902000"));
        QCOMPARE(window().List(id::kFreqEndList)->currentText(), QStringLiteral("917000"));
        window().ForceClick(id::kEtsiRadio);
        QCOMPARE(window().List(id::kFreqEndList)->count(), 7);
        QCOMPARE(window().List(id::kFreqStartList)->currentText(), QStringLiteral("865000"));
        QCOMPARE(window().List(id::kFreqEndList)->currentText(), QStringLiteral("866500"));

        QCOMPARE(virtualReader_.StandardCommands(), Commands());
        QCOMPARE(window().messages, QStringList());
    }

    void addressButtons() {
        window().SetText(id::kReaderAddress, QStringLiteral("12"));
        window().ForceClick(id::kSetAddressButton);
        QCOMPARE(reader().settings().address, uint8_t{12});
        QCOMPARE(window().messages, QStringList());

        reader().ModifySettings([](sim::ReaderSettings& settings) { settings.address = 21; });
        sim::ReaderIdentity identity = reader().identity();
        identity.version = {'V', '9'};
        reader().SetIdentity(identity);
        window().ForceClick(id::kGetAddressButton);
        QCOMPARE(window().Text(id::kReaderAddress), QStringLiteral("21"));
        QCOMPARE(window().Text(id::kVersionText), QStringLiteral("V9"));

        reader().FailCommand(command::kSetAddress, sim::Fault::Status(sim::kStatusRefused));
        reader().FailCommand(command::kGetAddress, sim::Fault::Status(sim::kStatusRefused));
        window().SetText(id::kReaderAddress, QStringLiteral("30"));
        window().ForceClick(id::kSetAddressButton);
        window().ForceClick(id::kGetAddressButton);
        QCOMPARE(window().messages,
                 (QStringList{QStringLiteral("Set Address Fail!"), QStringLiteral("Get Address Fail!")}));
        QCOMPARE(window().fields().readerAddress, uint8_t{30});
    }

    void testReads() {
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().ForceClick(id::kDecimalTestReadButton);
        window().ForceClick(id::kUsbTagReadButton);
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|01193046|2|12")});

        list().setRowCount(0);
        window().ForceClick(id::kHexTestReadButton);
        window().ForceClick(id::kHexTestReadButton);
        QCOMPARE(Rows(), QStringList{QStringLiteral("1|000012345678000000000000|2|12")});
        QCOMPARE(window().messages, QStringList());
    }

    // Kind-2 readers put the EPC one byte earlier in the tag data; the decimal test read keeps the
    // other kinds' window, so it sees the EPC shifted by one byte.
    void channelReaderTakesTheEpcFromItsOwnPlace() {
        ConnectTo(sim::kKindChannelList);
        PutTag(EpcWith(2, kWiegandBytes));
        Wiegand(false, true, 2);
        window().Button(id::kReadTag)->click();
        window().ForceClick(id::kDecimalTestReadButton);
        QCOMPARE(Rows(), (QStringList{QStringLiteral("1|01193046|1|12"), QStringLiteral("2|03430008|1|10")}));
    }
};

ZENDRIK_TOOL_TEST(TagsTest);
#include "tags_test.moc"
