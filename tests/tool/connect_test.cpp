// Connect, Disconnect and Read Configuration against the virtual reader: the order of the
// reader's commands, every field shown from the reader's values, and each failure that stops.
#include "tests/tool/tool_tests.h"
#include "tests/tool/virtual_reader_window.h"

using namespace zendrik::tool;
using namespace zendrik::tool::testing;
namespace sim = zendrik::sim;

namespace {

const QString kConnectionFail = QStringLiteral("Connection Fail!");
const QString kConnected = QStringLiteral("Connection Successful!");

// Distinct values for every setting the window shows, so a value in the wrong field shows up.
void GiveTheReaderDistinctSettings(sim::Reader& reader) {
    reader.ModifySettings([](sim::ReaderSettings& settings) {
        settings.buzzer = 1;
        settings.workMode = 1;
        settings.triggerTime = 7;
        settings.wiegandInterval = 5;
        settings.wgOutBytes = {1, 4, 4, 1};
        settings.wiegandFormat = 0x34;
        settings.passwordEnabled = 1;
        settings.password = {0x0a, 0xff, 0x01, 0x5e};
        settings.readTagInterval = 9;
        settings.outputPower = 27;
        settings.address = 6;
        // 865500 kHz to 867500 kHz: channels 1 to 5 of the band that starts at 865000 kHz.
        settings.planA = {sim::kRegionEtsiFromChannel0, 1, 5};
    });
    sim::ReaderIdentity identity = reader.identity();
    identity.serialNumber = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b};
    reader.SetIdentity(identity);
}

const Commands kConnectOrder{command::kHandshake,
                             command::kGetBuzzer,
                             command::kGetWorkMode,
                             command::kGetTriggerTime,
                             command::kGetWiegandInterval,
                             command::kGetWiegandOutBytes,
                             command::kGetWiegandFormat,
                             command::kGetPassword,
                             command::kGetReadTagInterval,
                             command::kGetOutPower,
                             command::kVersion,
                             command::kSerialNumber,
                             command::kGetAddress,
                             command::kGetFrequency};

const Commands kReadConfigurationOrder{
    command::kGetBuzzer,          command::kGetTriggerTime,     command::kGetWorkMode,
    command::kGetWiegandOutBytes, command::kGetWiegandFormat,   command::kGetPassword,
    command::kGetReadTagInterval, command::kGetWiegandInterval, command::kGetFrequency,
    command::kGetAddress,         command::kGetOutPower};

}  // namespace

class ConnectTest : public QObject {
    Q_OBJECT

    EmptyWorkingDirectory workingDirectory_;
    VirtualReader virtualReader_;

    sim::Reader& reader() { return virtualReader_.reader(); }

    void Disconnect(RecordingWindow& window) {
        if (window.Connected()) {
            window.Button(id::kDisconnect)->click();
        }
    }

  private slots:
    void init() {
        virtualReader_.PointHere();
        reader().Reset(sim::kKindStandard);
    }

    void connectShowsEveryValueOfTheReaderAndDisconnectSaysGoodbye() {
        GiveTheReaderDistinctSettings(reader());
        RecordingWindow window;
        window.Button(id::kConnect)->click();

        QCOMPARE(window.messages, QStringList());
        QVERIFY(window.Connected());
        QCOMPARE(window.Status(), kConnected);
        QCOMPARE(virtualReader_.StandardCommands(), kConnectOrder);
        QCOMPARE(virtualReader_.DataOf(command::kHandshake).front(), std::vector<uint8_t>{1});

        QVERIFY(window.Button(id::kBuzzerCheck)->isChecked());
        QVERIFY(window.Button(id::kTriggerRadio)->isChecked());
        QVERIFY(!window.Button(id::kAlwaysReadRadio)->isChecked());
        QVERIFY(window.Find<QLineEdit>(id::kTriggerTime)->isEnabled());
        QCOMPARE(window.Text(id::kTriggerTime), QStringLiteral("7"));
        QCOMPARE(window.Text(id::kWiegandInterval), QStringLiteral("5"));
        QVERIFY(window.Button(id::kInvertedRadio)->isChecked());
        QVERIFY(!window.Button(id::kForwardRadio)->isChecked());
        QCOMPARE(window.List(id::kStartBytesList)->count(), 12);
        QCOMPARE(window.List(id::kStartBytesList)->currentText(), QStringLiteral("4"));
        QVERIFY(window.Button(id::kWiegand34Radio)->isChecked());
        QVERIFY(!window.Button(id::kWiegand26Radio)->isChecked());
        QVERIFY(window.Button(id::kPasswordYesRadio)->isChecked());
        QVERIFY(!window.Button(id::kPasswordNoRadio)->isChecked());
        QCOMPARE(window.Text(id::kPassword), QStringLiteral("0aff015e"));
        QCOMPARE(window.fields().password, QStringLiteral("0aff015e"));
        QCOMPARE(window.Text(id::kReadTagInterval), QStringLiteral("9"));
        QCOMPARE(window.fields().readTagInterval, 9u);
        QCOMPARE(window.List(id::kPowerList)->count(), 34);
        QCOMPARE(window.List(id::kPowerList)->currentText(), QStringLiteral("27"));
        QCOMPARE(window.Text(id::kVersionText), QStringLiteral("ZR-UHF-S V2.3.1"));
        QCOMPARE(window.Text(id::kSerialNumberText), QStringLiteral("SN:000102030405060708090a0b"));
        QCOMPARE(window.Text(id::kReaderAddress), QStringLiteral("6"));
        QVERIFY(window.Button(id::kEtsiRadio)->isChecked());
        QVERIFY(!window.Button(id::kFccRadio)->isChecked());
        QCOMPARE(window.List(id::kFreqStartList)->count(), 7);
        QCOMPARE(window.List(id::kFreqStartList)->currentText(), QStringLiteral("865500"));
        QCOMPARE(window.List(id::kFreqEndList)->currentText(), QStringLiteral("867500"));

        // Read Configuration, after the reader changed: its own order, and the identity untouched.
        reader().ClearRequests();
        reader().ModifySettings([](sim::ReaderSettings& settings) {
            settings.buzzer = 0;
            settings.workMode = 0;
            settings.wiegandFormat = 0x26;
            settings.wgOutBytes = {1, 2, 3, 0};
            settings.passwordEnabled = 0;
            settings.wiegandInterval = 3;
            settings.outputPower = 30;
            settings.address = 9;
            settings.planA = {sim::kRegionFccFromChannel7, 7, 59};
        });
        sim::ReaderIdentity identity = reader().identity();
        identity.version = {'O', 'T', 'H', 'E', 'R'};
        reader().SetIdentity(identity);
        window.Button(id::kReadConfiguration)->click();
        QCOMPARE(window.messages, QStringList());
        QCOMPARE(virtualReader_.StandardCommands(), kReadConfigurationOrder);
        QCOMPARE(window.Status(), QStringLiteral("Read Configuration OK!"));
        QVERIFY(!window.Button(id::kBuzzerCheck)->isChecked());
        QVERIFY(window.Button(id::kAlwaysReadRadio)->isChecked());
        QVERIFY(!window.Find<QLineEdit>(id::kTriggerTime)->isEnabled());
        QVERIFY(window.Button(id::kWiegand26Radio)->isChecked());
        QVERIFY(window.Button(id::kForwardRadio)->isChecked());
        QCOMPARE(window.List(id::kStartBytesList)->currentText(), QStringLiteral("2"));
        QVERIFY(window.Button(id::kPasswordNoRadio)->isChecked());
        QCOMPARE(window.Text(id::kWiegandInterval), QStringLiteral("3"));
        QCOMPARE(window.List(id::kPowerList)->currentText(), QStringLiteral("30"));
        QCOMPARE(window.Text(id::kReaderAddress), QStringLiteral("9"));
        QCOMPARE(window.List(id::kFreqStartList)->count(), 53);
        QCOMPARE(window.List(id::kFreqStartList)->currentText(), QStringLiteral("902000"));
        QCOMPARE(window.List(id::kFreqEndList)->currentText(), QStringLiteral("928000"));
        // Read Configuration leaves the band radios to Connect.
        QVERIFY(window.Button(id::kEtsiRadio)->isChecked());
        QCOMPARE(window.Text(id::kVersionText), QStringLiteral("ZR-UHF-S V2.3.1"));
        QCOMPARE(window.Text(id::kSerialNumberText), QStringLiteral("SN:000102030405060708090a0b"));

        // Read Configuration: each failure that stops it, and what it leaves unread.
        struct StoppingFailure {
            uint8_t failing;
            QString box;
            uint8_t firstUnread;  // 0: the failing read was the last
        };
        const StoppingFailure failures[] = {
            {command::kGetWiegandOutBytes, QStringLiteral("Get Wiegand Output Settings Fail!"),
             command::kGetWiegandFormat},
            {command::kGetFrequency, QStringLiteral("Get Frequency Region Fail!"), command::kGetAddress},
            {command::kGetAddress, QStringLiteral("Get Address Fail!"), command::kGetOutPower},
            {command::kGetOutPower, QStringLiteral("Get OutPowerFail!"), 0},
        };
        for (const StoppingFailure& failure : failures) {
            window.messages.clear();
            reader().ClearRequests();
            reader().ClearFaults();
            reader().FailCommand(failure.failing, sim::Fault::Status(sim::kStatusRefused));
            const QString powerBefore = window.List(id::kPowerList)->currentText();
            reader().ModifySettings([](sim::ReaderSettings& settings) { settings.outputPower = 31; });
            window.Button(id::kReadConfiguration)->click();
            QCOMPARE(window.messages, QStringList{failure.box});
            const Commands sent = virtualReader_.StandardCommands();
            QVERIFY(Contains(sent, failure.failing));
            if (failure.firstUnread != 0) {
                QVERIFY(!Contains(sent, failure.firstUnread));
                QCOMPARE(window.List(id::kPowerList)->currentText(), powerBefore);
            }
            // The status line keeps the outcome of the read before.
            QCOMPARE(window.Status(), QStringLiteral("Read Configuration OK!"));
            QVERIFY(window.Connected());
        }
        reader().ClearFaults();

        reader().ClearRequests();
        window.Button(id::kDisconnect)->click();
        QVERIFY(window.Disconnected());
        QCOMPARE(window.Status(), QStringLiteral("Disconnected!"));
        QCOMPARE(virtualReader_.StandardCommands(), Commands{command::kHandshake});
        QCOMPARE(virtualReader_.DataOf(command::kHandshake).front(), std::vector<uint8_t>{0});
        // The settings stay on screen after Disconnect.
        QCOMPARE(window.Text(id::kVersionText), QStringLiteral("ZR-UHF-S V2.3.1"));
    }

    void connectThatFailsStaysDisconnected_data() {
        QTest::addColumn<bool>("readerPresent");
        QTest::newRow("no USB reader") << false;
        QTest::newRow("handshake refused") << true;
    }
    void connectThatFailsStaysDisconnected() {
        QFETCH(bool, readerPresent);
        if (readerPresent) {
            reader().FailCommand(command::kHandshake, sim::Fault::Status(sim::kStatusRefused));
        } else {
            virtualReader_.PointNowhere();
        }
        RecordingWindow window;
        window.Button(id::kConnect)->click();
        QCOMPARE(window.messages, QStringList{kConnectionFail});
        QCOMPARE(window.Status(), kConnectionFail);
        QVERIFY(window.Disconnected());
        const Commands sent = virtualReader_.StandardCommands();
        QCOMPARE(sent.empty(), !readerPresent);
        QVERIFY(
            std::all_of(sent.begin(), sent.end(), [](uint8_t code) { return code == command::kHandshake; }));
    }

    void connectStopsAtTheReadsItChecks_data() {
        QTest::addColumn<uint8_t>("failing");
        QTest::addColumn<QString>("box");
        QTest::addColumn<uint8_t>("firstUnread");
        QTest::newRow("Wiegand output settings")
            << command::kGetWiegandOutBytes << QStringLiteral("Get Wiegand Output Settings Fail!")
            << command::kGetWiegandFormat;
        QTest::newRow("output power")
            << command::kGetOutPower << QStringLiteral("Get OutPowerFail!") << command::kVersion;
        QTest::newRow("address") << command::kGetAddress << QStringLiteral("Get Address Fail!")
                                 << command::kGetFrequency;
    }
    void connectStopsAtTheReadsItChecks() {
        QFETCH(uint8_t, failing);
        QFETCH(QString, box);
        QFETCH(uint8_t, firstUnread);
        reader().FailCommand(failing, sim::Fault::Status(sim::kStatusRefused));
        RecordingWindow window;
        const QStringList frequenciesBefore{window.List(id::kFreqStartList)->currentText(),
                                            window.List(id::kFreqEndList)->currentText()};
        window.Button(id::kConnect)->click();
        QCOMPARE(window.messages, QStringList{box});
        QVERIFY(window.Connected());
        QCOMPARE(window.Status(), kConnected);
        const Commands sent = virtualReader_.StandardCommands();
        QVERIFY(Contains(sent, failing));
        QVERIFY(!Contains(sent, firstUnread));
        QCOMPARE((QStringList{window.List(id::kFreqStartList)->currentText(),
                              window.List(id::kFreqEndList)->currentText()}),
                 frequenciesBefore);
        if (failing == command::kGetAddress) {
            // Read but not shown: the fields were not shown again after the failure.
            QCOMPARE(window.fields().version, QStringLiteral("ZR-UHF-S V2.3.1"));
            QVERIFY(window.Text(id::kVersionText).isEmpty());
        }
        Disconnect(window);
    }

    // A frequency plan the reader cannot report leaves the lists without selection rather than
    // showing whatever the read left behind.
    void connectWithAnUnreadablePlanSelectsNoFrequency() {
        reader().FailCommand(command::kGetFrequency, sim::Fault::Status(sim::kStatusRefused));
        RecordingWindow window;
        window.Button(id::kConnect)->click();
        QCOMPARE(window.messages, QStringList());
        QVERIFY(window.Connected());
        QCOMPARE(window.List(id::kFreqStartList)->currentIndex(), -1);
        QCOMPARE(window.List(id::kFreqEndList)->currentIndex(), -1);
        Disconnect(window);
    }
};

ZENDRIK_TOOL_TEST(ConnectTest);
#include "connect_test.moc"
