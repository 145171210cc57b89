// Building the main window's controls. The arrangement follows the reader's settings from top to
// bottom: connection, work mode and indicator, RF and Wiegand settings, output and reading times
// with the four action buttons, the status line, version and serial number, and the tag list.
// Controls of the transports, address, password and service functions are built hidden.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

#include "tool/control_ids.h"
#include "tool/hover_button.h"
#include "tool/list_selection.h"
#include "tool/main_dlg.h"
#include "tool/owned_widget.h"
#include "tool/radio_group.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr int kNoId = -1;  // a caption or frame that no code addresses
constexpr int kPasswordMaxLength = 8;
constexpr char kLogoResource[] = ":/zendrik/logo-137.png";

// The window's size in dialog units; one horizontal unit is a quarter of the font's average
// character width, one vertical unit an eighth of its height.
constexpr int kDialogWidthUnits = 487;
constexpr int kDialogHeightUnits = 313;
constexpr int kDialogFontPointSize = 10;
constexpr int kHorizontalUnitsPerCharacter = 4;
constexpr int kVerticalUnitsPerLine = 8;
constexpr char kAverageWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

constexpr int kActionButtonHeight = 30;
constexpr int kNumberEditWidth = 48;
constexpr int kFrequencyListWidth = 110;
constexpr int kShortListWidth = 64;

template <class Widget, class... Args>
Widget* Named(QWidget* parent, int controlId, Args&&... args) {
    Widget* widget = MakeChild<Widget>(parent, std::forward<Args>(args)...);
    if (controlId != kNoId) {
        widget->setObjectName(QString::number(controlId));
    }
    return widget;
}

template <class Widget, class... Args>
Widget* Hidden(QWidget* parent, int controlId, Args&&... args) {
    Widget* widget = Named<Widget>(parent, controlId, std::forward<Args>(args)...);
    widget->hide();
    return widget;
}

QLineEdit* CentredEdit(QWidget* parent, int controlId) {
    auto* edit = Named<QLineEdit>(parent, controlId);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFixedWidth(kNumberEditWidth);
    return edit;
}

// The visible lists are editable drop-downs whose typed text is never added as an entry: only the
// selected index counts, and typing an entry selects it.
QComboBox* EditableList(QWidget* parent, int controlId, int width) {
    auto* list = Named<QComboBox>(parent, controlId);
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    SelectTypedEntries(list);
    list->setMinimumWidth(width);
    return list;
}

QLineEdit* IpAddressField(QWidget* parent, int controlId) {
    auto* field = Hidden<QLineEdit>(parent, controlId);
    static const QRegularExpression kDottedQuad(
        QStringLiteral(R"(^((25[0-5]|2[0-4]\d|1?\d?\d)\.){3}(25[0-5]|2[0-4]\d|1?\d?\d)$)"));
    field->setValidator(MakeChild<QRegularExpressionValidator>(field, kDottedQuad));
    return field;
}

CHoverButton* ActionButton(QWidget* parent, int controlId, const QString& caption) {
    auto* button = Named<CHoverButton>(parent, controlId, caption);
    button->setMinimumHeight(kActionButtonHeight);
    return button;
}

QGroupBox* Group(QWidget* parent, int controlId, const QString& title) {
    return Named<QGroupBox>(parent, controlId, title);
}

}  // namespace

void CMainDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Zendrik"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont dialogFont(QStringLiteral("Segoe UI Symbol"));
    dialogFont.setFamilies({QStringLiteral("Segoe UI Symbol"), QStringLiteral("DejaVu Sans")});
    dialogFont.setPointSize(kDialogFontPointSize);
    setFont(dialogFont);
    BuildShownControls();
    BuildHiddenControls();
    // Labels show the language file's captions and the reader's answers as written: Qt would
    // otherwise guess from a "<" whether a text is markup.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    setFixedSize(DialogSize().expandedTo(minimumSizeHint()));
}

QSize CMainDlg::DialogSize() const {
    const QFontMetrics metrics(font());
    // Average character width over both alphabets, rounded to the nearest pixel.
    const int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample));
    const int alphabetLetters = static_cast<int>(sizeof(kAverageWidthSample) - 1);
    const int averageWidth = (2 * alphabetWidth + alphabetLetters) / (2 * alphabetLetters);
    return {kDialogWidthUnits * averageWidth / kHorizontalUnitsPerCharacter,
            kDialogHeightUnits * metrics.height() / kVerticalUnitsPerLine};
}

void CMainDlg::BuildShownControls() {
    auto* window = MakeLayout<QVBoxLayout>(this);

    auto* top = MakeNestedLayout<QHBoxLayout>(window);
    top->addWidget(BuildLogo());
    top->addWidget(BuildConnectionGroup());
    top->addWidget(BuildWorkModeGroup());
    top->addWidget(BuildIndicatorGroup());
    top->addStretch();

    auto* settings = MakeNestedLayout<QHBoxLayout>(window);
    settings->addWidget(BuildRfGroup());
    settings->addWidget(BuildWiegandOutputGroup());
    settings->addWidget(BuildWiegandFormatGroup());
    settings->addStretch();

    auto* actions = MakeNestedLayout<QHBoxLayout>(window);
    actions->addWidget(BuildOutputTimeGroup());
    actions->addWidget(BuildReadingIntervalGroup());
    auto* buttons = MakeNestedLayout<QGridLayout>(actions);
    readTagButton_ = ActionButton(this, id::kReadTag, QStringLiteral("Read Tag"));
    saveChangesButton_ = ActionButton(this, id::kSaveChanges, QStringLiteral("Save Changes"));
    readConfigurationButton_ =
        ActionButton(this, id::kReadConfiguration, QStringLiteral("Read Configuration"));
    factoryDefaultButton_ = ActionButton(this, id::kFactoryDefault, QStringLiteral("Factory Default"));
    buttons->addWidget(readTagButton_, 0, 0);
    buttons->addWidget(saveChangesButton_, 0, 1);
    buttons->addWidget(readConfigurationButton_, 1, 0);
    buttons->addWidget(factoryDefaultButton_, 1, 1);

    auto* status = Named<QLabel>(this, id::kStatusLine, QStringLiteral("Static"));
    status->setAlignment(Qt::AlignCenter);
    window->addWidget(status);

    auto* identity = MakeNestedLayout<QHBoxLayout>(window);
    identity->addWidget(Named<QLabel>(this, id::kVersionText, QStringLiteral("Verson: ")), 1);
    identity->addWidget(Named<QLabel>(this, id::kSerialNumberText, QStringLiteral("SN")), 1);

    window->addWidget(BuildTagList(), 1);
}

QWidget* CMainDlg::BuildLogo() {
    auto* logo = Named<QLabel>(this, kNoId);
    logo->setPixmap(QPixmap(QString::fromLatin1(kLogoResource)));
    logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return logo;
}

QWidget* CMainDlg::BuildConnectionGroup() {
    auto* group = Group(this, id::kConnectionGroup, QStringLiteral("Connection Reader"));
    auto* layout = MakeLayout<QVBoxLayout>(group);
    connectButton_ = ActionButton(group, id::kConnect, QStringLiteral("Connect"));
    disconnectButton_ = ActionButton(group, id::kDisconnect, QStringLiteral("Disconnect"));
    layout->addWidget(connectButton_);
    layout->addWidget(disconnectButton_);
    return group;
}

QWidget* CMainDlg::BuildWorkModeGroup() {
    auto* group = Group(this, id::kWorkModeGroup, QStringLiteral("Work Mode"));
    auto* layout = MakeLayout<QGridLayout>(group);
    auto* always = Named<QRadioButton>(group, id::kAlwaysReadRadio, QStringLiteral("Always Read"));
    auto* trigger = Named<QRadioButton>(group, id::kTriggerRadio, QStringLiteral("Read by Trigger"));
    MakeRadioGroup({always, trigger});
    layout->addWidget(always, 0, 0);
    layout->addWidget(trigger, 0, 1, 1, 2);
    layout->addWidget(Named<QLabel>(group, id::kReadTimeLabel, QStringLiteral("Read time\r\n(1-255):")), 1,
                      0);
    layout->addWidget(CentredEdit(group, id::kTriggerTime), 1, 1);
    layout->addWidget(Named<QLabel>(group, id::kReadTimeUnit, QStringLiteral("s")), 1, 2);
    return group;
}

QWidget* CMainDlg::BuildIndicatorGroup() {
    auto* group = Group(this, id::kIndicatorGroup, QStringLiteral("Reader Indicator"));
    auto* layout = MakeLayout<QVBoxLayout>(group);
    layout->addWidget(Named<QCheckBox>(group, id::kBuzzerCheck, QStringLiteral("Buzzer")));
    return group;
}

QWidget* CMainDlg::BuildRfGroup() {
    auto* group = Group(this, id::kRfGroup, QStringLiteral("RF Settings"));
    auto* layout = MakeLayout<QGridLayout>(group);
    powerList_ = EditableList(group, id::kPowerList, kShortListWidth);
    freqStartList_ = EditableList(group, id::kFreqStartList, kFrequencyListWidth);
    freqEndList_ = EditableList(group, id::kFreqEndList, kFrequencyListWidth);
    layout->addWidget(Named<QLabel>(group, id::kPowerLabel, QStringLiteral("Power")), 0, 0);
    layout->addWidget(powerList_, 0, 1);
    layout->addWidget(Named<QLabel>(group, id::kFreqLabel, QStringLiteral("Freq")), 1, 0);
    layout->addWidget(freqStartList_, 1, 1);
    layout->addWidget(Named<QLabel>(group, id::kFreqToLabel, QStringLiteral("to")), 1, 2);
    layout->addWidget(freqEndList_, 1, 3);
    layout->addWidget(Named<QLabel>(group, id::kFreqUnitLabel, QStringLiteral("KHz")), 1, 4);
    return group;
}

QWidget* CMainDlg::BuildWiegandOutputGroup() {
    auto* group = Group(this, id::kWiegandOutputGroup, QStringLiteral("Wiegand Output Settings"));
    auto* layout = MakeLayout<QGridLayout>(group);
    auto* forward = Named<QRadioButton>(group, id::kForwardRadio, QStringLiteral("Forward Output"));
    auto* inverted = Named<QRadioButton>(group, id::kInvertedRadio, QStringLiteral("Inverted Output"));
    MakeRadioGroup({forward, inverted});
    startBytesList_ = EditableList(group, id::kStartBytesList, kShortListWidth);
    lengthList_ = EditableList(group, id::kLengthList, kShortListWidth);
    layout->addWidget(forward, 0, 0);
    layout->addWidget(inverted, 0, 1);
    layout->addWidget(Named<QLabel>(group, id::kStartBytesLabel, QStringLiteral("Start Bytes")), 1, 0);
    layout->addWidget(startBytesList_, 1, 1);
    layout->addWidget(Named<QLabel>(group, id::kLengthLabel, QStringLiteral("Length")), 2, 0);
    layout->addWidget(lengthList_, 2, 1);
    return group;
}

QWidget* CMainDlg::BuildWiegandFormatGroup() {
    auto* group = Group(this, id::kWiegandFormatGroup, QStringLiteral("Wiegand Format"));
    auto* layout = MakeLayout<QVBoxLayout>(group);
    auto* wiegand26 = Named<QRadioButton>(group, id::kWiegand26Radio, QStringLiteral("26"));
    auto* wiegand34 = Named<QRadioButton>(group, id::kWiegand34Radio, QStringLiteral("34"));
    MakeRadioGroup({wiegand26, wiegand34});
    layout->addWidget(wiegand26);
    layout->addWidget(wiegand34);
    return group;
}

QWidget* CMainDlg::BuildOutputTimeGroup() {
    auto* group = Group(this, id::kOutputTimeGroup, QStringLiteral("Output Time(2-20)"));
    auto* layout = MakeLayout<QHBoxLayout>(group);
    layout->addWidget(Named<QLabel>(group, id::kOutputTimeLabel, QStringLiteral("Time")));
    layout->addWidget(CentredEdit(group, id::kWiegandInterval));
    layout->addWidget(Named<QLabel>(group, kNoId, QStringLiteral("X 100ms")));
    return group;
}

QWidget* CMainDlg::BuildReadingIntervalGroup() {
    auto* group = Group(this, id::kReadingIntervalGroup, QStringLiteral("Tag Reading Interval"));
    auto* layout = MakeLayout<QHBoxLayout>(group);
    layout->addWidget(Named<QLabel>(group, id::kReadingIntervalLabel, QStringLiteral("Time")));
    layout->addWidget(CentredEdit(group, id::kReadTagInterval));
    layout->addWidget(Named<QLabel>(group, kNoId, QStringLiteral("s")));
    return group;
}

QWidget* CMainDlg::BuildTagList() {
    tagList_ = Named<QTableWidget>(this, id::kTagList, 0, kTagListColumnCount);
    tagList_->setShowGrid(true);
    tagList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tagList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tagList_->verticalHeader()->hide();
    tagList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tagList_->horizontalHeader()->setStretchLastSection(false);
    // A double click anywhere on the list, on a row or not, offers to clear it.
    tagList_->viewport()->installEventFilter(this);
    BuildTagListMenu();
    return tagList_;
}

void CMainDlg::BuildHiddenControls() {
    // Transports.
    auto* usb = Hidden<QRadioButton>(this, id::kUsbRadio, QStringLiteral("USB"));
    auto* com = Hidden<QRadioButton>(this, id::kComRadio, QStringLiteral("COM"));
    auto* udp = Hidden<QRadioButton>(this, id::kUdpRadio, QStringLiteral("TCP/UDP"));
    MakeRadioGroup({usb, com, udp});
    portList_ = Hidden<QComboBox>(this, id::kPortList);
    connectBaudList_ = Hidden<QComboBox>(this, id::kConnectBaudList);
    Hidden<QLabel>(this, id::kCommPortLabel, QStringLiteral("Comm Port:"));
    Hidden<QLabel>(this, id::kConnectBaudLabel, QStringLiteral("Baudrate:"));
    Hidden<QGroupBox>(this, kNoId, QStringLiteral("TCP/UDP Setting"));
    hostIp_ = IpAddressField(this, id::kHostIp);
    readerIp_ = IpAddressField(this, id::kReaderIp);
    Hidden<QLabel>(this, kNoId, QStringLiteral("Host IP"));
    Hidden<QLabel>(this, kNoId, QStringLiteral("Reader IP"));
    Hidden<QLabel>(this, kNoId, QStringLiteral("Port"));
    Hidden<QLabel>(this, kNoId, QStringLiteral("Port"));
    Hidden<QLineEdit>(this, id::kHostPort);
    Hidden<QLineEdit>(this, id::kReaderPort);

    // Frequency bands.
    auto* fcc = Hidden<QRadioButton>(this, id::kFccRadio, QStringLiteral("FCC"));
    auto* etsi = Hidden<QRadioButton>(this, id::kEtsiRadio, QStringLiteral("ETSI"));
    MakeRadioGroup({fcc, etsi});

    // Address, baud rate, LED and the spare field.
    Hidden<QGroupBox>(this, id::kAddressGroup, QStringLiteral("Setting Address"));
    Hidden<QLineEdit>(this, id::kReaderAddress);
    Hidden<QLabel>(this, id::kBaudLabel, QStringLiteral("Baudrate:"));
    baudList_ = Hidden<QComboBox>(this, id::kBaudList);
    Hidden<QCheckBox>(this, id::kLedCheck, QStringLiteral("Led"));
    Hidden<QLineEdit>(this, id::kSpareNumber);

    // Password.
    Hidden<QGroupBox>(this, id::kPasswordGroup, QStringLiteral("4 Bytes Check Password"));
    auto* yes = Hidden<QRadioButton>(this, id::kPasswordYesRadio, QStringLiteral("Yes"));
    auto* no = Hidden<QRadioButton>(this, id::kPasswordNoRadio, QStringLiteral("No"));
    MakeRadioGroup({yes, no});
    Hidden<QLabel>(this, kNoId, QStringLiteral("Password"));
    Hidden<QLineEdit>(this, id::kPassword)->setMaxLength(kPasswordMaxLength);

    // Service buttons.
    Hidden<QPushButton>(this, id::kSetAddressButton, QStringLiteral("设置地址"));
    Hidden<QPushButton>(this, id::kGetAddressButton, QStringLiteral("获取地址"));
    Hidden<QPushButton>(this, id::kDecimalTestReadButton, QStringLiteral("读标签测试(十进制)"));
    Hidden<QPushButton>(this, id::kHexTestReadButton, QStringLiteral("读标签（HEX16）"));
    Hidden<QPushButton>(this, id::kUsbTagReadButton, QStringLiteral("ReadTagUSB勿删"));
}

void CMainDlg::ConnectHandlers() {
    const auto onClick = [this](int controlId, void (CMainDlg::*handler)()) {
        connect(ControlAs<QAbstractButton>(controlId), &QAbstractButton::clicked, this, handler);
    };
    onClick(id::kConnect, &CMainDlg::OnConnect);
    onClick(id::kDisconnect, &CMainDlg::OnDisconnect);
    onClick(id::kReadConfiguration, &CMainDlg::OnReadConfiguration);
    onClick(id::kSaveChanges, &CMainDlg::OnSaveChanges);
    onClick(id::kFactoryDefault, &CMainDlg::OnFactoryDefault);
    onClick(id::kReadTag, &CMainDlg::OnReadTag);
    onClick(id::kUsbTagReadButton, &CMainDlg::OnUsbTagRead);
    onClick(id::kAlwaysReadRadio, &CMainDlg::OnAlwaysRead);
    onClick(id::kTriggerRadio, &CMainDlg::OnReadByTrigger);
    onClick(id::kWiegand26Radio, &CMainDlg::OnWiegand26);
    onClick(id::kWiegand34Radio, &CMainDlg::OnWiegand34);
    onClick(id::kUsbRadio, &CMainDlg::OnUsbTransport);
    onClick(id::kComRadio, &CMainDlg::OnComTransport);
    onClick(id::kUdpRadio, &CMainDlg::OnUdpTransport);
    onClick(id::kFccRadio, &CMainDlg::OnFccBand);
    onClick(id::kEtsiRadio, &CMainDlg::OnEtsiBand);
    onClick(id::kSetAddressButton, &CMainDlg::OnSetAddress);
    onClick(id::kGetAddressButton, &CMainDlg::OnGetAddress);
    onClick(id::kDecimalTestReadButton, &CMainDlg::OnDecimalTestRead);
    onClick(id::kHexTestReadButton, &CMainDlg::OnHexTestRead);
    connect(ControlAs<QLineEdit>(id::kReadTagInterval), &QLineEdit::textChanged, this,
            &CMainDlg::OnReadTagIntervalChanged);
}

}  // namespace zendrik::tool
