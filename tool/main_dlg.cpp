#include "tool/main_dlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <optional>

#include "tool/control_colours.h"
#include "tool/control_ids.h"
#include "tool/host_address.h"
#include "tool/hover_button.h"
#include "tool/language_file.h"
#include "tool/override_cursor.h"

// The icon and logo live in the tool library's resources; a static library needs them registered
// by hand, and only from the global namespace.
static void RegisterToolResources() {
    Q_INIT_RESOURCE(tool);
}

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr char kIconResource[] = ":/zendrik/icon-128.png";
constexpr char kDefaultReaderIp[] = "192.168.1.250";

constexpr const char* kBaudRates[] = {"9600", "19200", "38400", "57600", "115200"};
constexpr int kDefaultBaudIndex = 0;         // 9600 in the (unused) baud list
constexpr int kDefaultConnectBaudIndex = 4;  // 115200 for Connect

constexpr int kStartPowerEntries = 64;
constexpr int kStartPowerIndex = 5;
constexpr int kLengthEntries = 12;  // bytes of the EPC window put on the output

constexpr uint32_t kReadTagIntervalMax = 255;  // seconds, sent to the reader as one byte
constexpr uint32_t kPortMax = 65535;
constexpr qsizetype kPasswordTextLength = 8;

// A box of the window. Its text comes from the language file or the reader and is shown as
// written, never as markup. A box that comes up while a handler waits on the reader gets the
// normal cursor back for as long as it asks the user something.
int RunBox(QMessageBox::Icon icon, const QString& title, const QString& text,
           QMessageBox::StandardButtons buttons, QWidget* owner) {
    QMessageBox box(icon, title, text, buttons, owner);
    box.setTextFormat(Qt::PlainText);
    std::optional<OverrideCursor> normalCursor;
    if (QApplication::overrideCursor() != nullptr) {
        normalCursor.emplace(Qt::ArrowCursor);
    }
    return box.exec();
}

// Buttons, group boxes and menu entries take an ampersand as the mark of a keyboard shortcut; a
// caption's own ampersand is doubled so that it shows. The action buttons draw their captions
// themselves, ampersands included.
QString CaptionForMnemonicControl(const QString& text) {
    QString caption = text;
    return caption.replace(u'&', QStringLiteral("&&"));
}

}  // namespace

CMainDlg::Environment CMainDlg::SystemEnvironment() {
    return {[] { return EnumerateSerialPorts(false); }, HostIpv4Address};
}

CMainDlg::CMainDlg(QWidget* parent) : CMainDlg(SystemEnvironment(), parent) {}

CMainDlg::CMainDlg(Environment environment, QWidget* parent)
    : QDialog(parent), environment_(std::move(environment)) {
    RegisterToolResources();
    setWindowIcon(QIcon(QString::fromLatin1(kIconResource)));
    BuildControls();
    // The exchange order is fixed: handlers rely on which members a failed read has updated.
    fieldExchange_ = std::make_unique<FieldExchange>(
        std::vector<FieldBinding>{
            {Control(id::kStatusLine), TextField{&fields_.status}},
            {Control(id::kPassword), TextField{&fields_.password, kPasswordTextLength}},
            {Control(id::kReadTagInterval), UnsignedField{&fields_.readTagInterval, 0, kReadTagIntervalMax}},
            {Control(id::kSpareNumber), ByteField{&fields_.spareNumber}},
            {Control(id::kWiegandInterval), ByteField{&fields_.wiegandInterval}},
            {Control(id::kReaderAddress), ByteField{&fields_.readerAddress}},
            {Control(id::kTriggerTime), ByteField{&fields_.triggerTime}},
            {Control(id::kVersionText), TextField{&fields_.version}},
            {Control(id::kHostPort), UnsignedField{&fields_.hostPort, 0, kPortMax}},
            {Control(id::kReaderPort), UnsignedField{&fields_.readerPort, 0, kPortMax}},
            {Control(id::kSerialNumberText), TextField{&fields_.serialNumber}},
        },
        [this](const QString& text) { ShowFieldPrompt(text); });
    ConnectHandlers();
    Initialise();
}

CMainDlg::~CMainDlg() = default;

QWidget* CMainDlg::Control(int controlId) const {
    return findChild<QWidget*>(QString::number(controlId));
}

bool CMainDlg::ReadFields() {
    return fieldExchange_->ReadFields();
}

void CMainDlg::ShowFields() {
    fieldExchange_->ShowFields();
}

void CMainDlg::Initialise() {
    ShowFields();
    FillPortList();
    FillBaudLists();
    FillPowerAndLengthLists();
    hostIp_->setText(environment_.hostAddress ? environment_.hostAddress() : QString());
    readerIp_->setText(QString::fromLatin1(kDefaultReaderIp));
    EnterDisconnected();
    LoadTexts();
    // The shipped tool connects over USB: the transport radios are hidden, USB is chosen, and the
    // Wiegand format (not the byte length) describes the reader's output.
    SetRadioChecked(id::kUsbRadio, true);
    SetControlEnabled(id::kComRadio, false);
    SetControlEnabled(id::kUdpRadio, false);
    SetControlEnabled(id::kLengthList, false);
    SetControlEnabled(id::kWiegand26Radio, true);
    SetControlEnabled(id::kWiegand34Radio, true);
    ApplyControlColours(this);
}

void CMainDlg::FillPortList() {
    std::vector<std::string> friendlyNames;
    if (environment_.enumerateSerialPorts) {
        for (const SerialPortInfo& port : environment_.enumerateSerialPorts()) {
            friendlyNames.push_back(port.friendlyName);
        }
    }
    portList_->addItems(ExtractComNames(friendlyNames));
    if (!friendlyNames.empty() && portList_->count() > 0) {
        portList_->setCurrentIndex(0);
    }
}

void CMainDlg::FillBaudLists() {
    for (const char* rate : kBaudRates) {
        baudList_->addItem(QString::fromLatin1(rate));
        connectBaudList_->addItem(QString::fromLatin1(rate));
    }
    baudList_->setCurrentIndex(kDefaultBaudIndex);
    connectBaudList_->setCurrentIndex(kDefaultConnectBaudIndex);
}

void CMainDlg::FillPowerAndLengthLists() {
    ShowList(powerList_, MakeListContents(NumberEntries(0, kStartPowerEntries - 1), kStartPowerIndex));
    ShowList(lengthList_, MakeListContents(NumberEntries(1, kLengthEntries), kNoSelection));
}

void CMainDlg::LoadTexts() {
    const LanguageTexts texts = LoadLanguageTexts(LanguageFile::Load(LanguageFilePath()));
    for (const Caption& caption : texts.captions) {
        ApplyCaption(caption.controlId, caption.text);
    }
    messages_ = texts.messages;
    QStringList titles;
    for (const ListColumn& column : texts.columns) {
        titles.append(column.title);
    }
    tagList_->setHorizontalHeaderLabels(titles);
    for (int column = 0; column < kTagListColumnCount; ++column) {
        tagList_->setColumnWidth(column, texts.columns[static_cast<std::size_t>(column)].width);
    }
    tagListMenu_ = texts.tagListMenu;
    exportTagListAction_->setText(CaptionForMnemonicControl(tagListMenu_.exportCsv));
    copyTagRowsAction_->setText(CaptionForMnemonicControl(tagListMenu_.copyRows));
}

void CMainDlg::ApplyCaption(int controlId, const QString& text) {
    QWidget* control = Control(controlId);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* actionButton = qobject_cast<CHoverButton*>(control)) {
        actionButton->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(CaptionForMnemonicControl(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(CaptionForMnemonicControl(text));
    }
}

void CMainDlg::EnterConnected() {
    connectButton_->setEnabled(false);
    for (CHoverButton* button : {disconnectButton_, readConfigurationButton_, saveChangesButton_,
                                 factoryDefaultButton_, readTagButton_}) {
        button->setEnabled(true);
    }
}

void CMainDlg::EnterDisconnected() {
    connectButton_->setEnabled(true);
    for (CHoverButton* button : {disconnectButton_, readConfigurationButton_, saveChangesButton_,
                                 factoryDefaultButton_, readTagButton_}) {
        button->setEnabled(false);
    }
}

void CMainDlg::SetRadioChecked(int controlId, bool checked) {
    ControlAs<QAbstractButton>(controlId)->setChecked(checked);
}

void CMainDlg::SetControlEnabled(int controlId, bool enabled) {
    Control(controlId)->setEnabled(enabled);
}

void CMainDlg::ShowMessage(const QString& text) {
    RunBox(QMessageBox::NoIcon, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok, this);
}

bool CMainDlg::AskOkCancel(const QString& text, const QString& caption) {
    return RunBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, this) ==
           QMessageBox::Ok;
}

void CMainDlg::ShowFieldPrompt(const QString& text) {
    RunBox(QMessageBox::Warning, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok, this);
}

// Enter accepts the window only when the fields pass their checks.
void CMainDlg::accept() {
    if (ReadFields()) {
        QDialog::accept();
    }
}

// Enter on a push button presses that button; anywhere else it accepts the window.
void CMainDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier &&
        qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tagList_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        OnTagListDoubleClicked();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zendrik::tool
