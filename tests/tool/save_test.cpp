// Save Changes and Factory Default against the virtual reader: the checks that send nothing, the
// order and values of a full save, each write that stops the save, and the factory values by
// reader kind.
#include <functional>
#include <tuple>

#include "tests/tool/tool_tests.h"
#include "tests/tool/virtual_reader_window.h"

using namespace zendrik::tool;
using namespace zendrik::tool::testing;
namespace sim = zendrik::sim;

namespace {

using Bytes = std::vector<uint8_t>;

const Commands kSaveWrites{
    command::kSetWiegandInterval, command::kSetBuzzer,        command::kSetTriggerTime,
    command::kSetWorkMode,        command::kSetWiegandFormat, command::kSetWiegandOutBytes,
    command::kSetPassword,        command::kSetAddress,       command::kSetReadTagInterval,
    command::kSetFrequency,       command::kSetOutPower};
const Commands kFactoryWrites{
    command::kFactoryDefault,   command::kSetAddress,  command::kSetWiegandInterval, command::kSetTriggerTime,
    command::kSetWiegandFormat, command::kSetWorkMode, command::kSetFrequency,       command::kSetOutPower};
const Commands kFactorySequence{
    command::kFactoryDefault,   command::kSetAddress,  command::kSetWiegandInterval, command::kSetTriggerTime,
    command::kSetWiegandFormat, command::kSetWorkMode, command::kSetFrequency,       command::kSetOutPower};

// Layout A plan writes: step / 10 kHz, span, start frequency in kHz, most significant byte first.
const Bytes kFcc903To907{50, 8, 0x0D, 0xC7, 0x58};
const Bytes kWholeFccBand{50, 52, 0x0D, 0xC3, 0x70};
// Layout B: first and last channel, then three zeros.
const Bytes kAllChannels{1, 63, 0, 0, 0};

constexpr int kSaveablePower = 20;

struct SaveCase {
    const char* name;
    std::function<void(RecordingWindow&)> change;
    QString box;
    Bytes wgOutBytes;  // empty: the save must send nothing; else the settings sent before the refused write
};

}  // namespace

class SaveTest : public QObject {
    Q_OBJECT

    EmptyWorkingDirectory workingDirectory_;
    VirtualReader virtualReader_;
    std::unique_ptr<RecordingWindow> window_;

    sim::Reader& reader() { return virtualReader_.reader(); }
    RecordingWindow& window() { return *window_; }

    void ConnectTo(uint8_t kind) {
        if (window_ && window().Connected()) {
            window().Button(id::kDisconnect)->click();
        }
        reader().Reset(kind);
        window_ = std::make_unique<RecordingWindow>();
        window().Button(id::kConnect)->click();
        QVERIFY(window().Connected());
        QCOMPARE(window().messages, QStringList());
        Forget();
    }
    void Forget() {
        reader().ClearRequests();
        window().messages.clear();
    }
    // A window that passes every check: the factory settings of a kind-0 reader over USB.
    void MakeSaveable() {
        if (!window().Button(id::kUsbRadio)->isChecked()) {
            window().ForceClick(id::kUsbRadio);
        }
        window().SetText(id::kWiegandInterval, QStringLiteral("2"));
        window().SetText(id::kTriggerTime, QStringLiteral("3"));
        window().Button(id::kWiegand26Radio)->click();
        window().List(id::kStartBytesList)->setCurrentIndex(0);
        window().List(id::kFreqStartList)->setCurrentIndex(0);
        window().List(id::kFreqEndList)->setCurrentIndex(52);
        window().List(id::kPowerList)->setCurrentIndex(kSaveablePower);
        Forget();
    }

  private slots:
    void initTestCase() { ConnectTo(sim::kKindStandard); }

    void init() {
        reader().ClearFaults();
        Forget();
    }

    void checksRefuseBeforeAnythingIsSent() {
        const auto startByte = [](int index) {
            return [index](RecordingWindow& w) { w.List(id::kStartBytesList)->setCurrentIndex(index); };
        };
        const auto text = [](int controlId, const char* value) {
            return
                [controlId, value](RecordingWindow& w) { w.SetText(controlId, QString::fromLatin1(value)); };
        };
        const auto both = [](std::function<void(RecordingWindow&)> first,
                             std::function<void(RecordingWindow&)> second) {
            return [first, second](RecordingWindow& w) {
                first(w);
                second(w);
            };
        };
        const auto endBeforeStart = [](RecordingWindow& w) {
            w.List(id::kFreqStartList)->setCurrentIndex(10);
            w.List(id::kFreqEndList)->setCurrentIndex(2);
        };
        // Typed over whatever the list showed: only an exact entry selects.
        const auto typed = [](int controlId, const char* value) {
            return [controlId, value](RecordingWindow& w) {
                QLineEdit* edit = w.List(controlId)->lineEdit();
                edit->selectAll();
                QTest::keyClicks(edit, QString::fromLatin1(value));
            };
        };
        const auto wiegand34 = [](RecordingWindow& w) { w.Button(id::kWiegand34Radio)->click(); };
        const auto serial = [](int start, int lengthIndex) {
            return [start, lengthIndex](RecordingWindow& w) {
                w.ForceClick(id::kComRadio);
                w.List(id::kStartBytesList)->addItems({QStringLiteral("10"), QStringLiteral("11")});
                w.List(id::kStartBytesList)->setCurrentIndex(start);
                w.List(id::kLengthList)->setCurrentIndex(lengthIndex);
            };
        };
        const QString outputTime = QStringLiteral("Output Time(1-20)");
        const QString readTime = QStringLiteral("Read Time Parameter Error!");
        const QString freq = QStringLiteral("Freq Error!");
        const QString startBytes = QStringLiteral("Start Bytes Parameter Error!");
        const QString lengthBytes = QStringLiteral("Lenght Bytes Parameter Error!");
        const QString wgOutFail = QStringLiteral("Set Wiegand Output Settings Fail!");
        // A check that passes shows the next check's box, or, for the last check, lets the save
        // run up to the Wiegand output settings, which the reader refuses here.
        const SaveCase cases[] = {
            {"output time 0", text(id::kWiegandInterval, "0"), outputTime, {}},
            {"output time 21", text(id::kWiegandInterval, "21"), outputTime, {}},
            {"output time 1",
             both(text(id::kWiegandInterval, "1"), text(id::kTriggerTime, "255")),
             readTime,
             {}},
            {"output time 20",
             both(text(id::kWiegandInterval, "20"), text(id::kTriggerTime, "255")),
             readTime,
             {}},
            {"read time 0", text(id::kTriggerTime, "0"), readTime, {}},
            {"read time 254", both(text(id::kTriggerTime, "254"), endBeforeStart), freq, {}},
            {"end below start", endBeforeStart, freq, {}},
            {"no frequency",
             [](RecordingWindow& w) { w.List(id::kFreqEndList)->setCurrentIndex(-1); },
             freq,
             {}},
            {"Wiegand 34 from byte 9", both(wiegand34, startByte(9)), startBytes, {}},
            {"Wiegand 34 from byte 8", both(wiegand34, startByte(8)), wgOutFail, {1, 8, 4, 0}},
            {"Wiegand 26 from byte 10",
             [](RecordingWindow& w) {
                 w.List(id::kStartBytesList)->addItem("10");
                 w.List(id::kStartBytesList)->setCurrentIndex(10);
             },
             startBytes,
             {}},
            {"Wiegand 26 from byte 9", startByte(9), wgOutFail, {1, 9, 3, 0}},
            {"no start byte", startByte(-1), startBytes, {}},
            {"serial, byte 11, 1 byte", serial(11, 0), wgOutFail, {1, 11, 1, 0}},
            {"serial, byte 11, 2 bytes", serial(11, 1), lengthBytes, {}},
            {"serial, no length", serial(0, -1), lengthBytes, {}},
            {"power typed 99", typed(id::kPowerList, "99"), QStringLiteral("Parameter Error!"), {}},
            {"start frequency typed", typed(id::kFreqStartList, "902001"), freq, {}},
            {"end frequency typed", typed(id::kFreqEndList, "end"), freq, {}},
            {"start byte typed", typed(id::kStartBytesList, "x"), startBytes, {}},
            {"start byte typed as an entry",
             both(wiegand34, typed(id::kStartBytesList, "8")),
             wgOutFail,
             {1, 8, 4, 0}},
            {"serial, length typed 13", both(serial(0, 0), typed(id::kLengthList, "13")), lengthBytes, {}},
            {"serial, length typed as an entry",
             both(serial(0, 0), typed(id::kLengthList, "12")),
             wgOutFail,
             {1, 0, 12, 0}},
        };
        reader().FailCommand(command::kSetWiegandOutBytes, sim::Fault::Status(sim::kStatusRefused));
        for (const SaveCase& saveCase : cases) {
            MakeSaveable();
            saveCase.change(window());
            window().Button(id::kSaveChanges)->click();
            QVERIFY2(window().messages == QStringList{saveCase.box}, saveCase.name);
            const Commands sent = virtualReader_.StandardCommands();
            if (saveCase.wgOutBytes.empty()) {
                QVERIFY2(sent.empty(), saveCase.name);
            } else {
                QVERIFY2(virtualReader_.DataOf(command::kSetWiegandOutBytes).front() == saveCase.wgOutBytes,
                         saveCase.name);
                QVERIFY2(!Contains(sent, command::kSetAddress), saveCase.name);
            }
            QVERIFY2(window().Status() != QStringLiteral("Saved!"), saveCase.name);
        }
        window().ForceClick(id::kUsbRadio);
    }

    void fullSaveWritesEverySettingInOrder() {
        MakeSaveable();
        window().SetText(id::kWiegandInterval, QStringLiteral("4"));
        window().Button(id::kBuzzerCheck)->setChecked(false);
        window().SetText(id::kTriggerTime, QStringLiteral("9"));
        window().Button(id::kTriggerRadio)->click();
        window().Button(id::kWiegand34Radio)->click();
        window().List(id::kStartBytesList)->setCurrentIndex(5);
        window().Button(id::kInvertedRadio)->click();
        window().ForceClick(id::kPasswordYesRadio);
        window().SetText(id::kPassword, QStringLiteral("0aff015e"));
        window().SetText(id::kReaderAddress, QStringLiteral("7"));
        window().SetText(id::kReadTagInterval, QStringLiteral("200"));
        window().List(id::kPowerList)->setCurrentIndex(30);
        QVERIFY(window().Button(id::kFccRadio)->isChecked());
        window().List(id::kFreqStartList)->setCurrentIndex(2);
        window().List(id::kFreqEndList)->setCurrentIndex(10);

        window().Button(id::kSaveChanges)->click();

        QCOMPARE(window().messages, QStringList());
        QCOMPARE(window().Status(), QStringLiteral("Saved!"));
        QCOMPARE(Only(virtualReader_.StandardCommands(), kSaveWrites),
                 (Commands{command::kSetWiegandInterval, command::kSetBuzzer, command::kSetTriggerTime,
                           command::kSetWorkMode, command::kSetWiegandFormat, command::kSetWiegandOutBytes,
                           command::kSetWiegandInterval, command::kSetPassword, command::kSetAddress,
                           command::kSetReadTagInterval, command::kSetFrequency, command::kSetOutPower}));
        QCOMPARE(virtualReader_.DataOf(command::kSetFrequency).front(), kFcc903To907);
        const sim::ReaderSettings settings = reader().settings();
        QCOMPARE(settings.wiegandInterval, uint8_t{4});
        QCOMPARE(settings.buzzer, uint8_t{0});
        QCOMPARE(settings.triggerTime, uint8_t{9});
        QCOMPARE(settings.workMode, uint8_t{1});
        QCOMPARE(settings.wiegandFormat, uint8_t{0x34});
        QCOMPARE(settings.wgOutBytes, (std::array<uint8_t, 4>{1, 5, 4, 1}));
        QCOMPARE(settings.passwordEnabled, uint8_t{1});
        QCOMPARE(settings.password, (std::array<uint8_t, 4>{0x0a, 0xff, 0x01, 0x5e}));
        QCOMPARE(settings.address, uint8_t{7});
        QCOMPARE(settings.readTagInterval, uint8_t{200});
        QCOMPARE(settings.outputPower, uint8_t{30});
        QCOMPARE(settings.planA.region, sim::kRegionFree);
        QCOMPARE(settings.planA.startKhz, 903000u);
        QCOMPARE(settings.planA.stepTens, uint8_t{50});
        QCOMPARE(settings.planA.channelCount, uint8_t{8});
    }

    // The library judges the plan and power writes by reading them back, so those are made to fail
    // by a reader that cannot report them.
    void refusedWritesStopTheSave_data() {
        QTest::addColumn<uint8_t>("write");
        QTest::addColumn<uint8_t>("spoiled");
        QTest::addColumn<QString>("box");
        QTest::addColumn<uint8_t>("notSent");
        QTest::newRow("Wiegand output settings")
            << command::kSetWiegandOutBytes << command::kSetWiegandOutBytes
            << QStringLiteral("Set Wiegand Output Settings Fail!") << command::kSetAddress;
        QTest::newRow("address") << command::kSetAddress << command::kSetAddress
                                 << QStringLiteral("Set Address Fail!") << command::kSetReadTagInterval;
        QTest::newRow("frequency plan")
            << command::kSetFrequency << command::kGetFrequency
            << QStringLiteral("Set Frequency Region Fail!") << command::kSetOutPower;
        QTest::newRow("output power") << command::kSetOutPower << command::kGetOutPower
                                      << QStringLiteral("Get OutPowerFail!") << uint8_t{0};
    }
    void refusedWritesStopTheSave() {
        QFETCH(uint8_t, write);
        QFETCH(uint8_t, spoiled);
        QFETCH(QString, box);
        QFETCH(uint8_t, notSent);
        MakeSaveable();
        window().SetStatus(QStringLiteral("before"));
        reader().FailCommand(spoiled, sim::Fault::Status(sim::kStatusRefused));
        window().Button(id::kSaveChanges)->click();
        QCOMPARE(window().messages, QStringList{box});
        const Commands sent = virtualReader_.StandardCommands();
        QVERIFY(Contains(sent, write));
        if (notSent != 0) {
            QVERIFY(!Contains(sent, notSent));
        }
        QCOMPARE(window().Status(), QStringLiteral("before"));
        QVERIFY(window().Connected());
    }

    void factoryDefaultOfAStandardReader() {
        window().Button(id::kFactoryDefault)->click();
        QCOMPARE(window().messages, QStringList());
        QCOMPARE(window().Status(), QStringLiteral("Success!"));
        QCOMPARE(Only(virtualReader_.StandardCommands(), kFactoryWrites), kFactorySequence);
        QCOMPARE(virtualReader_.DataOf(command::kSetAddress).front(), Bytes{1});
        QCOMPARE(virtualReader_.DataOf(command::kSetWiegandInterval).front(), Bytes{2});
        QCOMPARE(virtualReader_.DataOf(command::kSetTriggerTime).front(), Bytes{3});
        QCOMPARE(virtualReader_.DataOf(command::kSetWiegandFormat).front(), Bytes{38});
        QCOMPARE(virtualReader_.DataOf(command::kSetWorkMode).front(), Bytes{0});
        QCOMPARE(virtualReader_.DataOf(command::kSetFrequency).front(), kWholeFccBand);
        QCOMPARE(virtualReader_.DataOf(command::kSetOutPower).front(), Bytes{33});

        // A power write that does not take is reported as a failure, not as success.
        Forget();
        window().SetStatus(QStringLiteral("before"));
        reader().FailCommand(command::kGetOutPower, sim::Fault::Status(sim::kStatusRefused));
        window().Button(id::kFactoryDefault)->click();
        QCOMPARE(window().messages, QStringList{QStringLiteral("Factory Default Fail!")});
        QCOMPARE(window().Status(), QStringLiteral("before"));
    }

    // After the reset the window is read back: it shows the factory values over what it showed
    // before, and a Save then writes the reader's own values, not the old ones over the reset.
    void factoryDefaultReadsTheReaderBackIntoTheWindow() {
        MakeSaveable();
        window().SetText(id::kTriggerTime, QStringLiteral("9"));
        window().SetText(id::kWiegandInterval, QStringLiteral("5"));
        window().Button(id::kWiegand34Radio)->click();
        window().List(id::kFreqEndList)->setCurrentIndex(10);
        window().Button(id::kFactoryDefault)->click();
        QCOMPARE(window().messages, QStringList());
        QCOMPARE(window().Status(), QStringLiteral("Success!"));
        QVERIFY(Contains(virtualReader_.StandardCommands(), command::kGetOutPower));
        const std::tuple<int, QString> texts[] = {{id::kTriggerTime, QStringLiteral("3")},
                                                  {id::kWiegandInterval, QStringLiteral("2")}};
        for (const auto& [control, text] : texts) {
            QCOMPARE(window().Text(control), text);
        }
        const std::tuple<int, int> lists[] = {
            {id::kPowerList, 33}, {id::kFreqStartList, 0}, {id::kFreqEndList, 52}};
        for (const auto& [control, index] : lists) {
            QCOMPARE(window().List(control)->currentIndex(), index);
        }
        QVERIFY(window().Button(id::kWiegand26Radio)->isChecked());

        const sim::ReaderSettings held = reader().settings();
        Forget();
        window().Button(id::kSaveChanges)->click();
        QCOMPARE(window().messages, QStringList());
        QCOMPARE(window().Status(), QStringLiteral("Saved!"));
        QVERIFY(reader().settings() == held);
    }

    // The handlers that wait on the reader for seconds show the wait cursor from their first step,
    // the field check (failed here by the spare field), to their last box, and not after.
    void longHandlersShowTheWaitCursor() {
        const QString prompt = QStringLiteral("“请填入一个在0和255之间的整数。”");
        const std::tuple<int, uint8_t, QStringList> cases[] = {
            {id::kConnect, 0, {prompt}},
            {id::kReadConfiguration, command::kGetAddress, {prompt, "Get Address Fail!"}},
            {id::kSaveChanges, command::kSetWiegandOutBytes, {prompt, "Set Wiegand Output Settings Fail!"}},
            {id::kFactoryDefault, 0, {prompt}},
        };
        for (const auto& [button, spoiled, boxes] : cases) {
            MakeSaveable();
            if (button == id::kConnect) {
                window().Button(id::kDisconnect)->click();
            }
            Forget();
            window().cursorsAtBoxes.clear();
            if (spoiled != 0) {
                reader().FailCommand(spoiled, sim::Fault::Status(sim::kStatusRefused));
            }
            window().SetText(id::kSpareNumber, QStringLiteral("x"));
            window().Button(button)->click();
            reader().ClearFaults();
            QCOMPARE(window().messages, boxes);
            QCOMPARE(window().cursorsAtBoxes, QList<int>(boxes.size(), Qt::WaitCursor));
            QCOMPARE(QApplication::overrideCursor(), nullptr);
        }
    }

    void narrowPowerReaderGetsItsPowerFromTheListIndex() {
        ConnectTo(sim::kKindNarrowPower);
        QCOMPARE(window().List(id::kPowerList)->count(), 9);
        MakeSaveable();
        window().List(id::kPowerList)->setCurrentIndex(8);
        window().Button(id::kSaveChanges)->click();
        QCOMPARE(window().messages, QStringList());
        QCOMPARE(virtualReader_.DataOf(command::kSetOutPower).front(), Bytes{26});

        Forget();
        window().Button(id::kFactoryDefault)->click();
        QCOMPARE(window().Status(), QStringLiteral("Success!"));
        QCOMPARE(Only(virtualReader_.StandardCommands(), kFactoryWrites), kFactorySequence);
        QCOMPARE(virtualReader_.DataOf(command::kSetFrequency).front(), kWholeFccBand);
        QCOMPARE(virtualReader_.DataOf(command::kSetOutPower).front(), Bytes{26});
    }

    void channelReaderWritesChannels() {
        ConnectTo(sim::kKindChannelList);
        QCOMPARE(window().List(id::kFreqStartList)->count(), 63);
        MakeSaveable();
        window().List(id::kFreqStartList)->setCurrentIndex(0);
        window().List(id::kFreqEndList)->setCurrentIndex(62);
        window().List(id::kPowerList)->setCurrentIndex(40);
        window().Button(id::kSaveChanges)->click();
        QCOMPARE(window().messages, QStringList());
        QCOMPARE(window().Status(), QStringLiteral("Saved!"));
        QCOMPARE(virtualReader_.DataOf(command::kSetFrequency).front(), kAllChannels);
        QCOMPARE(virtualReader_.DataOf(command::kSetOutPower).front(), Bytes{40});

        Forget();
        window().Button(id::kFactoryDefault)->click();
        QCOMPARE(window().Status(), QStringLiteral("Success!"));
        QCOMPARE(Only(virtualReader_.StandardCommands(), kFactoryWrites), kFactorySequence);
        QCOMPARE(virtualReader_.DataOf(command::kSetFrequency).front(), kAllChannels);
        QCOMPARE(virtualReader_.DataOf(command::kSetOutPower).front(), Bytes{63});
    }
};

ZENDRIK_TOOL_TEST(SaveTest);
#include "save_test.moc"
