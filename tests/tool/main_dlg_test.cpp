// The main window at start: controls, initial contents, language texts from the working
// directory, the field exchange's prompts, the display rules applied, and the colours.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <array>
#include <functional>
#include <memory>

#include "tests/tool/tool_tests.h"
#include "tool/control_colours.h"
#include "tool/control_ids.h"
#include "tool/hover_button.h"
#include "tool/main_dlg.h"
#include "tool/override_cursor.h"

using namespace zendrik::tool;
namespace id = control_id;

namespace {

// No serial ports and no host name lookup: the window sees the same machine in every run.
CMainDlg::Environment QuietEnvironment() {
    return {{}, [] { return QStringLiteral("10.1.2.3"); }};
}

class TestWindow : public CMainDlg {
  public:
    explicit TestWindow(Environment environment = QuietEnvironment()) : CMainDlg(std::move(environment)) {}

    QStringList shownMessages;
    QStringList prompts;
    QString exportPath;  // what the file dialog answers; empty: cancelled
    QStringList exportCaptions;

    using CMainDlg::ApplyFrequencyDisplay;
    using CMainDlg::ApplyPowerList;
    using CMainDlg::ApplyWiegandDisplay;
    using CMainDlg::FillChannelLists;
    using CMainDlg::OnComTransport;
    using CMainDlg::OnExportTagList;
    void SetReaderKind(uint8_t kind) { readerKind_ = kind; }

    // The window's own boxes.
    void RealMessage(const QString& text) { CMainDlg::ShowMessage(text); }
    void RealQuestion(const QString& text) { CMainDlg::AskOkCancel(text, text); }
    void RealPrompt(const QString& text) { CMainDlg::ShowFieldPrompt(text); }

  protected:
    void ShowMessage(const QString& text) override { shownMessages.append(text); }
    bool AskOkCancel(const QString& text, const QString& /*caption*/) override {
        shownMessages.append(text);
        return false;
    }
    void ShowFieldPrompt(const QString& text) override { prompts.append(text); }
    QString ChooseExportPath(const QString& caption) override {
        exportCaptions.append(caption);
        return exportPath;
    }
};

// Runs the test body from a working directory of its own, optionally holding a config.ini.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const QByteArray& configIni = {}) : previous_(QDir::currentPath()) {
        if (!configIni.isNull()) {
            QFile file(directory_.filePath(QStringLiteral("config.ini")));
            if (file.open(QIODevice::WriteOnly)) {
                file.write(configIni);
            }
        }
        QDir::setCurrent(directory_.path());
    }
    ~WorkingDirectory() { QDir::setCurrent(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  private:
    QString previous_;
    QTemporaryDir directory_;
};

template <class Widget>
Widget* Find(const CMainDlg& window, int controlId) {
    return window.ControlAs<Widget>(controlId);
}

QString Text(const CMainDlg& window, int controlId) {
    if (const auto* edit = Find<QLineEdit>(window, controlId)) {
        return edit->text();
    }
    if (const auto* label = Find<QLabel>(window, controlId)) {
        return label->text();
    }
    if (const auto* button = Find<QAbstractButton>(window, controlId)) {
        return button->text();
    }
    return Find<QGroupBox>(window, controlId)->title();
}

bool Checked(const CMainDlg& window, int controlId) {
    return Find<QAbstractButton>(window, controlId)->isChecked();
}

QAction* TagListAction(const CMainDlg& window, const char* name) {
    return Find<QTableWidget>(window, id::kTagList)->findChild<QAction*>(QString::fromLatin1(name));
}

void AddTagRow(QTableWidget* list, const QStringList& cells) {
    const int row = list->rowCount();
    list->insertRow(row);
    for (int column = 0; column < cells.size(); ++column) {
        list->setItem(row, column, std::make_unique<QTableWidgetItem>(cells[column]).release());
    }
}

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int index = 0; index < list->count(); ++index) {
        entries.append(list->itemText(index));
    }
    return entries;
}

}  // namespace

class MainDlgTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlExistsWithItsKindAndVisibility_data() {
        QTest::addColumn<int>("controlId");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("hidden");
        const auto row = [](int controlId, const char* kind, bool hidden) {
            QTest::addRow("%d", controlId) << controlId << QString::fromLatin1(kind) << hidden;
        };
        for (int button : {id::kConnect, id::kDisconnect, id::kReadTag, id::kSaveChanges,
                           id::kReadConfiguration, id::kFactoryDefault}) {
            row(button, "zendrik::tool::CHoverButton", false);
        }
        for (int group : {id::kConnectionGroup, id::kWorkModeGroup, id::kIndicatorGroup, id::kRfGroup,
                          id::kWiegandOutputGroup, id::kWiegandFormatGroup, id::kOutputTimeGroup,
                          id::kReadingIntervalGroup}) {
            row(group, "QGroupBox", false);
        }
        for (int radio : {id::kAlwaysReadRadio, id::kTriggerRadio, id::kForwardRadio, id::kInvertedRadio,
                          id::kWiegand26Radio, id::kWiegand34Radio}) {
            row(radio, "QRadioButton", false);
        }
        for (int label :
             {id::kReadTimeLabel, id::kReadTimeUnit, id::kPowerLabel, id::kFreqLabel, id::kFreqToLabel,
              id::kFreqUnitLabel, id::kStartBytesLabel, id::kLengthLabel, id::kOutputTimeLabel,
              id::kReadingIntervalLabel, id::kStatusLine, id::kVersionText, id::kSerialNumberText}) {
            row(label, "QLabel", false);
        }
        for (int list :
             {id::kPowerList, id::kFreqStartList, id::kFreqEndList, id::kStartBytesList, id::kLengthList}) {
            row(list, "QComboBox", false);
        }
        for (int edit : {id::kTriggerTime, id::kWiegandInterval, id::kReadTagInterval}) {
            row(edit, "QLineEdit", false);
        }
        row(id::kBuzzerCheck, "QCheckBox", false);
        row(id::kTagList, "QTableWidget", false);
        for (int radio : {id::kUsbRadio, id::kComRadio, id::kUdpRadio, id::kFccRadio, id::kEtsiRadio,
                          id::kPasswordYesRadio, id::kPasswordNoRadio}) {
            row(radio, "QRadioButton", true);
        }
        for (int list : {id::kPortList, id::kConnectBaudList, id::kBaudList}) {
            row(list, "QComboBox", true);
        }
        for (int edit : {id::kHostIp, id::kReaderIp, id::kHostPort, id::kReaderPort, id::kReaderAddress,
                         id::kSpareNumber, id::kPassword}) {
            row(edit, "QLineEdit", true);
        }
        for (int label : {id::kCommPortLabel, id::kConnectBaudLabel, id::kBaudLabel}) {
            row(label, "QLabel", true);
        }
        row(id::kAddressGroup, "QGroupBox", true);
        row(id::kPasswordGroup, "QGroupBox", true);
        row(id::kLedCheck, "QCheckBox", true);
        for (int button : {id::kSetAddressButton, id::kGetAddressButton, id::kDecimalTestReadButton,
                           id::kHexTestReadButton, id::kUsbTagReadButton}) {
            row(button, "QPushButton", true);
        }
    }
    void everyControlExistsWithItsKindAndVisibility() {
        QFETCH(int, controlId);
        QFETCH(QString, kind);
        QFETCH(bool, hidden);
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        QWidget* control = window.Control(controlId);
        QVERIFY(control != nullptr);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
        QCOMPARE(control->isHidden(), hidden);
        QCOMPARE(control->isVisible(), !hidden);
    }

    void startState() {
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Zendrik"));
        QVERIFY(!window.windowIcon().isNull());

        QVERIFY(window.Control(id::kConnect)->isEnabled());
        for (int button :
             {id::kDisconnect, id::kReadConfiguration, id::kSaveChanges, id::kFactoryDefault, id::kReadTag}) {
            QVERIFY2(!window.Control(button)->isEnabled(), qPrintable(QString::number(button)));
        }

        QVERIFY(Checked(window, id::kUsbRadio));
        QVERIFY(!window.Control(id::kComRadio)->isEnabled());
        QVERIFY(!window.Control(id::kUdpRadio)->isEnabled());
        QVERIFY(window.Control(id::kWiegand26Radio)->isEnabled());
        QVERIFY(window.Control(id::kWiegand34Radio)->isEnabled());
        for (int radio : {id::kComRadio, id::kUdpRadio, id::kAlwaysReadRadio, id::kTriggerRadio,
                          id::kForwardRadio, id::kInvertedRadio, id::kWiegand26Radio, id::kWiegand34Radio,
                          id::kFccRadio, id::kEtsiRadio, id::kPasswordYesRadio, id::kPasswordNoRadio}) {
            QVERIFY2(!Checked(window, radio), qPrintable(QString::number(radio)));
        }

        const QStringList baudRates{"9600", "19200", "38400", "57600", "115200"};
        QCOMPARE(Entries(Find<QComboBox>(window, id::kConnectBaudList)), baudRates);
        QCOMPARE(Find<QComboBox>(window, id::kConnectBaudList)->currentText(), QStringLiteral("115200"));
        QCOMPARE(Entries(Find<QComboBox>(window, id::kBaudList)), baudRates);
        QCOMPARE(Find<QComboBox>(window, id::kBaudList)->currentText(), QStringLiteral("9600"));

        const auto* power = Find<QComboBox>(window, id::kPowerList);
        QCOMPARE(power->count(), 64);
        QCOMPARE(power->itemText(63), QStringLiteral("63"));
        QCOMPARE(power->currentIndex(), 5);
        QCOMPARE(power->currentText(), QStringLiteral("5"));
        QVERIFY(power->isEditable());

        const auto* length = Find<QComboBox>(window, id::kLengthList);
        QVERIFY(!length->isEnabled());
        QCOMPARE(length->count(), 12);
        QCOMPARE(length->itemText(0), QStringLiteral("1"));
        QCOMPARE(length->itemText(11), QStringLiteral("12"));
        QCOMPARE(length->currentIndex(), -1);
        QCOMPARE(Find<QComboBox>(window, id::kStartBytesList)->count(), 0);
        QCOMPARE(Find<QComboBox>(window, id::kFreqStartList)->count(), 0);
        QCOMPARE(Find<QComboBox>(window, id::kPortList)->count(), 0);

        const std::array<std::pair<int, const char*>, 13> texts = {{
            {id::kPassword, "5e2b907c"},
            {id::kReadTagInterval, "5"},
            {id::kWiegandInterval, "2"},
            {id::kReaderAddress, "0"},
            {id::kTriggerTime, "1"},
            {id::kSpareNumber, "0"},
            {id::kHostPort, "2000"},
            {id::kReaderPort, "27001"},
            {id::kStatusLine, ""},
            {id::kVersionText, ""},
            {id::kSerialNumberText, ""},
            {id::kReaderIp, "192.168.1.250"},
            {id::kHostIp, "10.1.2.3"},
        }};
        for (const auto& [controlId, text] : texts) {
            QCOMPARE(Text(window, controlId), QString::fromLatin1(text));
        }
        QCOMPARE(Find<QLineEdit>(window, id::kPassword)->maxLength(), 8);

        const auto* list = Find<QTableWidget>(window, id::kTagList);
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->rowCount(), 0);
        const std::array<std::pair<const char*, int>, 4> columns = {
            {{"No.", 90}, {"Card Number", 250}, {"Success Times", 150}, {"EPC Length", 150}}};
        QCOMPARE(list->columnCount(), 4);
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(list->horizontalHeaderItem(column)->text(), QString::fromLatin1(columns[column].first));
            QCOMPARE(list->columnWidth(column), columns[column].second);
        }
        QVERIFY(window.shownMessages.isEmpty());
        QVERIFY(window.prompts.isEmpty());
    }

    void defaultCaptionsWithoutLanguageFile() {
        const WorkingDirectory directory;
        TestWindow window;
        QCOMPARE(Text(window, id::kAlwaysReadRadio), QStringLiteral("Read Always"));
        QCOMPARE(Text(window, id::kConnectionGroup), QStringLiteral("Reader Connection"));
        QCOMPARE(Text(window, id::kReadTimeLabel), QStringLiteral("Read Time\r\n(1-255):"));
        QCOMPARE(Text(window, id::kOutputTimeGroup), QStringLiteral("Output Time(1-20)"));
        QCOMPARE(Text(window, id::kFreqUnitLabel), QStringLiteral("kHz"));
        QCOMPARE(Text(window, id::kCommPortLabel), QStringLiteral("Com Port:"));
        QCOMPARE(Text(window, id::kHexTestReadButton), QStringLiteral("读标签（HEX16）"));
        QCOMPARE(window.messages().connectSuccessful, QStringLiteral("Connection Successful!"));
    }

    void languageFileFromTheWorkingDirectory() {
        const QByteArray file = QByteArray("[Lan]\r\n") + "MODE_READTIME=Lesezeit\\r\\n(1-255):\r\n" +
                                "RF_POWER=Leistung\\r\\n\r\n" + " LENGTH = x \r\n" +
                                "RF_FREQ=" + QByteArray(250, 'f') + "\r\n" + "BUTTON_CONNECT=\r\n" +
                                "MESSAGE_CONNECT_FAIL=Keine Verbindung\r\n" + "LIST_ID=Kartennummer\r\n" +
                                "RF_TO=<b>bis</b>\r\n" + "MODE_ALLWAYS=Read & Write\r\n" +
                                "RF_RF=<h1>RF</h1>\r\n" + "MENU_EXPORT_CSV=CSV & mehr\r\n" +
                                "MENU_COPY=Kopieren\r\n" + "MESSAGE_EXPORT_FAIL=<i>nein</i>\r\n";
        const WorkingDirectory directory(file);
        TestWindow window;
        QCOMPARE(Text(window, id::kReadTimeLabel), QStringLiteral("Lesezeit\r\n(1-255):"));
        QCOMPARE(Text(window, id::kPowerLabel), QStringLiteral("Leistung\\r\\n"));
        QCOMPARE(Text(window, id::kLengthLabel), QStringLiteral("x"));
        QCOMPARE(Text(window, id::kFreqLabel), QString(199, u'f'));
        QCOMPARE(Text(window, id::kConnect), QString());
        QCOMPARE(window.messages().connectFail, QStringLiteral("Keine Verbindung"));
        QCOMPARE(Find<QTableWidget>(window, id::kTagList)->horizontalHeaderItem(1)->text(),
                 QStringLiteral("Kartennummer"));
        QCOMPARE(Find<QTableWidget>(window, id::kTagList)->columnWidth(1), 250);
        // Shown as written: markup stays visible, and so do ampersands where Qt takes them for
        // shortcut marks.
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
        }
        QCOMPARE(Text(window, id::kFreqToLabel), QStringLiteral("<b>bis</b>"));
        QCOMPARE(Text(window, id::kAlwaysReadRadio), QStringLiteral("Read && Write"));
        QCOMPARE(Text(window, id::kRfGroup), QStringLiteral("<h1>RF</h1>"));
        QCOMPARE(TagListAction(window, "exportTagList")->text(), QStringLiteral("CSV && mehr"));
        QCOMPARE(TagListAction(window, "copyTagRows")->text(), QStringLiteral("Kopieren"));
        QCOMPARE(window.messages().exportFail, QStringLiteral("<i>nein</i>"));
        window.OnExportTagList();
        QCOMPARE(window.exportCaptions, QStringList{QStringLiteral("CSV & mehr")});
    }

    // A config.ini beside the program is not the one in the working directory.
    void languageFileBesideTheProgramIsIgnored() {
        const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath("config.ini");
        if (QFile::exists(besideProgram)) {
            QSKIP("a config.ini already lies beside the test program");
        }
        const WorkingDirectory directory;
        QFile file(besideProgram);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const auto removeFile = qScopeGuard([&] { QFile::remove(besideProgram); });
        file.write("[Lan]\nMODE_ALLWAYS=Immer\n");
        file.close();
        TestWindow window;
        QCOMPARE(Text(window, id::kAlwaysReadRadio), QStringLiteral("Read Always"));
    }

    void serialPortListTakesComNames_data() {
        QTest::addColumn<QStringList>("friendlyNames");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("selected");
        QTest::newRow("COM then printer")
            << QStringList{"Port A (COM3)", "Printer (LPT1)"} << QStringList{"COM3"} << 0;
        QTest::newRow("printer first")
            << QStringList{"Printer (LPT1)", "Port A (COM3)"} << QStringList{} << -1;
        QTest::newRow("COM without digits") << QStringList{"COM"} << QStringList{"COM"} << 0;
    }
    void serialPortListTakesComNames() {
        QFETCH(QStringList, friendlyNames);
        QFETCH(QStringList, entries);
        QFETCH(int, selected);
        const WorkingDirectory directory;
        CMainDlg::Environment environment = QuietEnvironment();
        environment.enumerateSerialPorts = [friendlyNames] {
            std::vector<SerialPortInfo> ports;
            for (const QString& name : friendlyNames) {
                ports.push_back({"/dev/null", "", name.toStdString(), false, ""});
            }
            return ports;
        };
        TestWindow window(environment);
        const auto* ports = Find<QComboBox>(window, id::kPortList);
        QCOMPARE(Entries(ports), entries);
        QCOMPARE(ports->currentIndex(), selected);
    }

    void readTagIntervalOutOfRangeStopsTheExchange() {
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        Find<QLineEdit>(window, id::kPassword)->setText(QStringLiteral("11223344"));
        Find<QLineEdit>(window, id::kReadTagInterval)->setText(QStringLiteral("300"));
        Find<QLineEdit>(window, id::kWiegandInterval)->setText(QStringLiteral("7"));
        // The interval's change handler has already read the fields and prompted once.
        window.prompts.clear();
        QVERIFY(!window.ReadFields());
        QCOMPARE(window.prompts, QStringList{QStringLiteral("“请填入一个在0和255之间的整数。”")});
        QCOMPARE(window.fields().password, QStringLiteral("11223344"));  // before the failing field
        QCOMPARE(window.fields().readTagInterval, 5u);                   // the failing field
        QCOMPARE(window.fields().wiegandInterval, uint8_t{2});           // after it
        QCOMPARE(window.focusWidget(), window.Control(id::kReadTagInterval));
    }

    void fieldFailuresKeepTheMember_data() {
        QTest::addColumn<int>("controlId");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("interval not a number") << id::kReadTagInterval << "five"
                                               << "“请填入一个正整数。”";
        QTest::newRow("trigger time 256") << id::kTriggerTime << "256"
                                          << "“请填入一个在0和255之间的整数。”";
        QTest::newRow("address not a number") << id::kReaderAddress << "x"
                                              << "“请填入一个在0和255之间的整数。”";
        QTest::newRow("reader port 65536") << id::kReaderPort << "65536"
                                           << "“请填入一个在0和65535之间的整数。”";
        QTest::newRow("host port 65555") << id::kHostPort << "65555"
                                         << "“请填入一个在0和65535之间的整数。”";
    }
    void fieldFailuresKeepTheMember() {
        QFETCH(int, controlId);
        QFETCH(QString, text);
        QFETCH(QString, prompt);
        const WorkingDirectory directory;
        TestWindow window;
        const CMainDlg::Fields before = window.fields();
        Find<QLineEdit>(window, controlId)->setText(text);
        window.prompts.clear();  // the interval's change handler reads the fields as it changes
        QVERIFY(!window.ReadFields());
        QCOMPARE(window.prompts, QStringList{prompt});
        QCOMPARE(window.fields().readTagInterval, before.readTagInterval);
        QCOMPARE(window.fields().triggerTime, before.triggerTime);
        QCOMPARE(window.fields().readerAddress, before.readerAddress);
        QCOMPARE(window.fields().hostPort, before.hostPort);
        QCOMPARE(window.fields().readerPort, before.readerPort);
    }

    void enterAcceptsOnlyValidFields() {
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        auto* interval = Find<QLineEdit>(window, id::kReadTagInterval);
        interval->setText(QStringLiteral("999"));
        window.prompts.clear();  // the change handler's own prompt
        interval->setFocus();
        QTest::keyClick(interval, Qt::Key_Return);
        QCOMPARE(window.result(), int{QDialog::Rejected});
        QVERIFY(window.isVisible());
        QCOMPARE(window.prompts.size(), 1);
        interval->setText(QStringLiteral("9"));
        QTest::keyClick(interval, Qt::Key_Return);
        QCOMPARE(window.result(), int{QDialog::Accepted});
        QCOMPARE(window.fields().readTagInterval, 9u);
    }

    // A click clears the other radios of the group; setting a check from code touches one radio.
    void radioGroups() {
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        auto* always = Find<QRadioButton>(window, id::kAlwaysReadRadio);
        auto* trigger = Find<QRadioButton>(window, id::kTriggerRadio);
        QTest::mouseClick(always, Qt::LeftButton);
        QVERIFY(always->isChecked());
        QTest::mouseClick(always, Qt::LeftButton);
        QVERIFY(always->isChecked());
        QTest::mouseClick(trigger, Qt::LeftButton);
        QVERIFY(trigger->isChecked());
        QVERIFY(!always->isChecked());
        always->setChecked(true);
        QVERIFY(always->isChecked());
        QVERIFY(trigger->isChecked());
    }

    void wiegandDisplayApplied() {
        const WorkingDirectory directory;
        TestWindow window;
        const std::array<uint8_t, kOutputBytesSize> inverted = {1, 4, 3, 1};
        window.ApplyWiegandDisplay(inverted);
        QVERIFY(Checked(window, id::kInvertedRadio));
        QVERIFY(!Checked(window, id::kForwardRadio));
        const auto* start = Find<QComboBox>(window, id::kStartBytesList);
        QCOMPARE(start->count(), 12);
        QCOMPARE(start->currentText(), QStringLiteral("4"));
        const std::array<uint8_t, kOutputBytesSize> forward = {1, 0, 3, 0};
        window.ApplyWiegandDisplay(forward);
        QVERIFY(Checked(window, id::kForwardRadio));
        QVERIFY(!Checked(window, id::kInvertedRadio));
        QCOMPARE(start->currentIndex(), 0);
    }

    void powerListApplied() {
        const WorkingDirectory directory;
        TestWindow window;
        auto* power = Find<QComboBox>(window, id::kPowerList);
        window.SetReaderKind(1);
        window.ApplyPowerList(26);
        QCOMPARE(power->count(), 9);
        QCOMPARE(power->currentText(), QStringLiteral("26"));
        window.ApplyPowerList(10);
        QCOMPARE(power->currentIndex(), -1);
        window.SetReaderKind(0);
        window.ApplyPowerList(20);
        QCOMPARE(power->count(), 34);
        QCOMPARE(power->currentText(), QStringLiteral("20"));
        window.SetReaderKind(7);
        window.ApplyPowerList(3);
        QCOMPARE(power->count(), 34);
        QCOMPARE(power->currentText(), QStringLiteral("20"));
    }

    void frequencyDisplayApplied() {
        const WorkingDirectory directory;
        TestWindow window;
        auto* start = Find<QComboBox>(window, id::kFreqStartList);
        auto* end = Find<QComboBox>(window, id::kFreqEndList);
        window.SetReaderKind(0);
        FrequencyReport etsi;
        etsi.first = 865500;
        etsi.span = 4;
        window.ApplyFrequencyDisplay(etsi, FrequencyForm::kConnect);
        QVERIFY(Checked(window, id::kEtsiRadio));
        QVERIFY(!Checked(window, id::kFccRadio));
        QCOMPARE(start->count(), 7);
        QCOMPARE(start->currentText(), QStringLiteral("865500"));
        QCOMPARE(end->currentText(), QStringLiteral("867500"));

        FrequencyReport fcc;
        fcc.first = 902000;
        fcc.span = 52;
        window.ApplyFrequencyDisplay(fcc, FrequencyForm::kReadConfiguration);
        QVERIFY(Checked(window, id::kEtsiRadio));  // Read Configuration leaves the band radios alone
        QCOMPARE(start->count(), 53);
        QCOMPARE(start->currentText(), QStringLiteral("902000"));
        QCOMPARE(end->currentText(), QStringLiteral("928000"));

        window.SetReaderKind(2);
        FrequencyReport channels;
        channels.first = 1;
        channels.second = 63;
        window.ApplyFrequencyDisplay(channels, FrequencyForm::kReadConfiguration);
        QCOMPARE(start->count(), 63);
        QCOMPARE(start->currentText(), QStringLiteral("01--902600"));
        QCOMPARE(end->currentText(), QStringLiteral("63--927400"));

        window.FillChannelLists(22, kNoSelection, kNoSelection);
        QCOMPARE(start->itemText(3), QStringLiteral("04--907250"));
        QCOMPARE(end->currentText(), QStringLiteral("42--926250"));
        window.FillChannelLists(14, kNoSelection, kNoSelection);
        QCOMPARE(start->count(), 0);
        QCOMPARE(end->currentIndex(), -1);
    }

    // The frequency display of a channel reader shows the fields: members reach their controls.
    void channelDisplayShowsTheFields() {
        const WorkingDirectory directory;
        TestWindow window;
        window.SetReaderKind(2);
        Find<QLabel>(window, id::kStatusLine)->setText(QStringLiteral("stale"));
        window.ApplyFrequencyDisplay(FrequencyReport{0, 1, 63, 0, 0}, FrequencyForm::kReadConfiguration);
        QCOMPARE(Text(window, id::kStatusLine), QString());
    }

    void controlColours() {
        const WorkingDirectory directory;
        TestWindow window;
        QCOMPARE(window.palette().color(QPalette::Window).rgb(), colours::kDialogFill);
        for (int caption : {id::kPowerLabel, id::kAlwaysReadRadio, id::kBuzzerCheck, id::kRfGroup}) {
            const QPalette palette = window.Control(caption)->palette();
            QCOMPARE(palette.color(QPalette::WindowText).rgb(), colours::kCaptionText);
            QCOMPARE(palette.color(QPalette::Window).rgb(), colours::kCaptionBackground);
        }
        for (int edit : {id::kReadTagInterval, id::kPowerList}) {
            const QPalette palette = window.Control(edit)->palette();
            QCOMPARE(palette.color(QPalette::Base).rgb(), colours::kEditBackground);
            QCOMPARE(palette.color(QPalette::Text).rgb(), colours::kEditText);
        }
        const QPalette toolkit = QApplication::palette();
        QCOMPARE(window.Control(id::kTagList)->palette().color(QPalette::Window),
                 toolkit.color(QPalette::Window));
        QCOMPARE(window.Control(id::kSetAddressButton)->palette().color(QPalette::WindowText),
                 toolkit.color(QPalette::WindowText));

        // The rendered window shows the dialog fill and the caption patch.
        window.show();
        const QImage image = window.grab().toImage();
        QCOMPARE(image.pixel(window.width() - 2, window.height() - 2), colours::kDialogFill);
        const QWidget* label = window.Control(id::kPowerLabel);
        const QPoint corner = label->mapTo(&window, QPoint(0, 0));
        QCOMPARE(image.pixel(corner + QPoint(label->width() - 1, 1)), colours::kCaptionBackground);
    }

    // A disabled control keeps its live colours for when it is enabled again, and is greyed out
    // meanwhile: grey text on the captions' grey, in the palette and on the screen.
    void disabledControlsLookGreyed_data() {
        QTest::addColumn<int>("controlId");
        QTest::addColumn<bool>("edit");
        QTest::newRow("trigger time in Read Always") << int{id::kTriggerTime} << true;
        QTest::newRow("Length list over USB") << int{id::kLengthList} << true;
        QTest::newRow("Wiegand 26 off USB") << int{id::kWiegand26Radio} << false;
    }
    void disabledControlsLookGreyed() {
        QFETCH(int, controlId);
        QFETCH(bool, edit);
        const WorkingDirectory directory;
        TestWindow window;
        window.show();
        Find<QAbstractButton>(window, id::kAlwaysReadRadio)->click();
        if (!edit) {
            window.OnComTransport();
        }
        QWidget* control = window.Control(controlId);
        const QPalette palette = control->palette();
        const auto text = edit ? QPalette::Text : QPalette::WindowText;
        const auto background = edit ? QPalette::Base : QPalette::Window;
        QCOMPARE(palette.color(QPalette::Active, text).rgb(),
                 edit ? colours::kEditText : colours::kCaptionText);
        QCOMPARE(palette.color(QPalette::Active, background).rgb(),
                 edit ? colours::kEditBackground : colours::kCaptionBackground);
        QCOMPARE(palette.color(QPalette::Disabled, text).rgb(), colours::kDisabledText);
        QCOMPARE(palette.color(QPalette::Disabled, background).rgb(), colours::kDisabledBackground);
        if (edit) {
            QCOMPARE(control->grab().toImage().pixel(control->width() / 2, 4), colours::kDisabledBackground);
        }
    }

    // Boxes show their text as written, and the normal cursor even while a handler shows the wait
    // cursor.
    void boxesShowPlainTextWithTheNormalCursor() {
        const WorkingDirectory directory;
        TestWindow window;
        const QString text = QStringLiteral("<b>Connection Fail!</b>");
        const std::function<void()> boxes[] = {[&] { window.RealMessage(text); },
                                               [&] { window.RealQuestion(text); },
                                               [&] { window.RealPrompt(text); }};
        for (const std::function<void()>& showBox : boxes) {
            QStringList seen;
            QTimer::singleShot(0, &window, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                seen << box->text() << QString::number(box->textFormat())
                     << QString::number(QApplication::overrideCursor()->shape());
                box->done(QMessageBox::Ok);
            });
            const WaitCursor busy;
            showBox();
            QCOMPARE(seen,
                     (QStringList{text, QString::number(Qt::PlainText), QString::number(Qt::ArrowCursor)}));
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The tag list's context menu: the whole list to a CSV file, the selected rows to the clipboard.
    void tagListMenuExportsAndCopies() {
        const WorkingDirectory directory;
        TestWindow window;
        auto* list = Find<QTableWidget>(window, id::kTagList);
        QAction* exportCsv = TagListAction(window, "exportTagList");
        QAction* copy = TagListAction(window, "copyTagRows");
        QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(list->actions(), (QList<QAction*>{exportCsv, copy}));
        QCOMPARE(exportCsv->text(), QStringLiteral("Export to CSV…"));
        QCOMPARE(copy->text(), QStringLiteral("Copy"));
        for (const QStringList& row :
             {QStringList{"1", "01193046", "2", "12"}, QStringList{"2", "0aff", "1", "12"},
              QStringList{"3", "0305419896", "15", "8"}}) {
            AddTagRow(list, row);
        }
        QVERIFY(!copy->isEnabled());
        list->selectRow(2);
        list->selectionModel()->select(list->model()->index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        copy->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("1\t01193046\t2\t12\n3\t0305419896\t15\t8\n"));

        const QTemporaryDir target;
        for (const QString& name :
             {QStringLiteral("tags.csv"), QStringLiteral("missing/tags.csv"), QString()}) {
            window.exportPath = name.isEmpty() ? name : target.filePath(name);  // empty: cancelled
            exportCsv->trigger();
        }
        QFile written(target.filePath(QStringLiteral("tags.csv")));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(),
                 QByteArray("No.,Card Number,Success Times,EPC Length\r\n1,01193046,2,12\r\n"
                            "2,0aff,1,12\r\n3,0305419896,15,8\r\n"));
        QCOMPARE(window.exportCaptions, QStringList(3, QStringLiteral("Export to CSV…")));
        QCOMPARE(window.shownMessages, QStringList{QStringLiteral("Export Fail!")});
        QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{QStringLiteral("tags.csv")});
    }

    // The field prompts are Chinese: an installed font must carry their glyphs.
    void aFontCarriesThePrompts() {
        QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
    }
};

ZENDRIK_TOOL_TEST(MainDlgTest);
#include "main_dlg_test.moc"
