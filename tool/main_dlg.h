#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "rules/reader_settings.h"
#include "tool/display_rules.h"
#include "tool/field_exchange.h"
#include "tool/language_texts.h"
#include "tool/serial_ports.h"

class QAction;
class QComboBox;
class QLineEdit;
class QTableWidget;

namespace zendrik::tool {

class CHoverButton;
struct BandRadioPlan;
struct SaveInputs;

// The tool's one window: every control of the reader's settings, the tag list, and the handlers
// that talk to the reader through the library.
class CMainDlg : public QDialog {
    Q_OBJECT

  public:
    // What the window asks of the machine at start; tests replace it.
    struct Environment {
        std::function<std::vector<SerialPortInfo>()> enumerateSerialPorts;
        std::function<QString()> hostAddress;
    };
    static Environment SystemEnvironment();

    // The members the field exchange moves to and from their controls.
    struct Fields {
        QString status;
        QString password = QStringLiteral("5e2b907c");
        uint32_t readTagInterval = 5;
        uint8_t spareNumber = 0;
        uint8_t wiegandInterval = 2;
        uint8_t readerAddress = 0;
        uint8_t triggerTime = 1;
        QString version;
        uint32_t hostPort = 2000;
        uint32_t readerPort = 27001;
        QString serialNumber;
    };

    // Every command goes to this address; the tool never changes it, so a reader keeps answering
    // after a new address has been written into it.
    static constexpr uint8_t kReaderAddress = rules::kAnyReaderAddress;
    static constexpr char kMessageTitle[] = "ZendrikDemo";

    explicit CMainDlg(QWidget* parent = nullptr);
    explicit CMainDlg(Environment environment, QWidget* parent = nullptr);
    ~CMainDlg() override;

    QWidget* Control(int id) const;
    template <class Widget>
    Widget* ControlAs(int id) const {
        return qobject_cast<Widget*>(Control(id));
    }

    const Fields& fields() const { return fields_; }
    const MessageTexts& messages() const { return messages_; }
    uint8_t readerKind() const { return readerKind_; }

    // Controls -> members, with the range checks; false at the first field that fails.
    bool ReadFields();
    // Members -> controls.
    void ShowFields();

    void accept() override;

  protected:
    // Every box of the window goes through these, so that tests can answer them.
    virtual void ShowMessage(const QString& text);
    virtual bool AskOkCancel(const QString& text, const QString& caption);
    virtual void ShowFieldPrompt(const QString& text);
    // The file the tag list is exported to, asked with a save dialog; empty when the user cancels.
    virtual QString ChooseExportPath(const QString& caption);

    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Connected: only Disconnect and the reader actions; Disconnected: only Connect.
    void EnterConnected();
    void EnterDisconnected();

    // Display rules applied to the lists and radios.
    void ApplyWiegandDisplay(std::span<const uint8_t, kOutputBytesSize> wgOutBytes);
    void ApplyPowerList(uint8_t power);
    void ApplyFrequencyDisplay(const FrequencyReport& report, FrequencyForm form);
    void FillChannelLists(int region, int startIndex, int endIndex);
    static void ShowList(QComboBox* list, const ListContents& contents);
    void SetRadioChecked(int id, bool checked);
    void SetControlEnabled(int id, bool enabled);

    Fields fields_;
    MessageTexts messages_;
    TagListMenuTexts tagListMenu_;
    uint8_t readerKind_ = 0;
    uint8_t lowValue_ = 0;

    QComboBox* startBytesList_ = nullptr;              // 1080
    QComboBox* lengthList_ = nullptr;                  // 1079
    QComboBox* powerList_ = nullptr;                   // 1069
    QComboBox* freqStartList_ = nullptr;               // 1059
    QComboBox* freqEndList_ = nullptr;                 // 1060
    QComboBox* connectBaudList_ = nullptr;             // 1011
    QComboBox* baudList_ = nullptr;                    // 1002
    QComboBox* portList_ = nullptr;                    // 1006
    QLineEdit* hostIp_ = nullptr;                      // 1070
    QLineEdit* readerIp_ = nullptr;                    // 1071
    QTableWidget* tagList_ = nullptr;                  // 1019
    CHoverButton* connectButton_ = nullptr;            // 1000
    CHoverButton* disconnectButton_ = nullptr;         // 1015
    CHoverButton* readConfigurationButton_ = nullptr;  // 1028
    CHoverButton* factoryDefaultButton_ = nullptr;     // 1017
    CHoverButton* saveChangesButton_ = nullptr;        // 1027
    CHoverButton* readTagButton_ = nullptr;            // 1018
    QAction* exportTagListAction_ = nullptr;           // the tag list's context menu
    QAction* copyTagRowsAction_ = nullptr;

  protected slots:
    // Connect and disconnect (main_dlg_connect.cpp).
    void OnConnect();
    void OnDisconnect();
    // Read Configuration (main_dlg_configuration.cpp).
    void OnReadConfiguration();
    // Save Changes and Factory Default (main_dlg_save.cpp).
    void OnSaveChanges();
    void OnFactoryDefault();
    // Tag reading and the tag list (main_dlg_tags.cpp).
    void OnReadTag();
    void OnUsbTagRead();
    void OnTagListDoubleClicked();
    // The tag list's context menu (main_dlg_tag_export.cpp).
    void OnExportTagList();
    void OnCopyTagRows();
    // Mode radios, the interval field and the service buttons (main_dlg_service.cpp).
    void OnAlwaysRead();
    void OnReadByTrigger();
    void OnWiegand26();
    void OnWiegand34();
    void OnUsbTransport();
    void OnComTransport();
    void OnUdpTransport();
    void OnFccBand();
    void OnEtsiBand();
    void OnReadTagIntervalChanged();
    void OnSetAddress();
    void OnGetAddress();
    void OnDecimalTestRead();
    void OnHexTestRead();

  private:
    // Building the controls (main_dlg_layout.cpp).
    void BuildControls();
    void BuildShownControls();
    void BuildHiddenControls();
    void ConnectHandlers();
    QWidget* BuildLogo();
    QWidget* BuildConnectionGroup();
    QWidget* BuildWorkModeGroup();
    QWidget* BuildIndicatorGroup();
    QWidget* BuildRfGroup();
    QWidget* BuildWiegandOutputGroup();
    QWidget* BuildWiegandFormatGroup();
    QWidget* BuildOutputTimeGroup();
    QWidget* BuildReadingIntervalGroup();
    QWidget* BuildTagList();
    void BuildTagListMenu();
    QSize DialogSize() const;

    // Initialisation (main_dlg.cpp).
    void Initialise();
    void FillPortList();
    void FillBaudLists();
    void FillPowerAndLengthLists();
    void LoadTexts();
    void ApplyCaption(int id, const QString& text);

    // Connect's steps, and the settings that Connect and Read Configuration read back
    // (main_dlg_connect.cpp, main_dlg_configuration.cpp). The bool ones are false when the reader
    // did not answer.
    bool UsbChosen() const;
    bool OpenLink();
    void RefuseConnection();
    void ReadBackAfterConnect();
    void ReadIdentity();
    // Read Configuration's reads, in its order, into the window; false after a read that stops it,
    // whose box has been shown.
    bool ReadConfigurationIntoWindow();
    void ReadBuzzer();
    void ReadWorkMode();
    void ReadTriggerTime();
    void ReadWiegandInterval();
    bool ReadWiegandOutput(bool clearFormatOffUsb);
    void ReadPassword();
    void ReadReadTagInterval();
    bool ReadOutputPower();
    bool ReadReaderAddress();
    bool ReadFrequencyPlan(FrequencyForm form);

    // Save Changes and Factory Default (main_dlg_save.cpp).
    SaveInputs CollectSaveInputs() const;
    bool WriteSettings();
    bool WriteFrequencyAndPower();
    std::optional<int32_t> WriteFactoryFrequencyAndPower(const rules::ReaderSettings& values);

    // Tag reads (main_dlg_tags.cpp).
    void ReadWiegandNumber(bool windowByReaderKind);
    void ReadEpcField();

    // The band radios (main_dlg_service.cpp).
    void ShowBandPlan(const BandRadioPlan& plan);

    Environment environment_;
    std::unique_ptr<FieldExchange> fieldExchange_;
};

}  // namespace zendrik::tool
