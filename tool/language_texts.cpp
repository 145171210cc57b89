#include "tool/language_texts.h"

#include "tool/control_ids.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr char kSection[] = "Lan";

struct CaptionKey {
    const char* key;
    const char* defaultText;
    int controlId;
};

// Reading order of the captions. "LENGTH " and "OUTPUT_TIME " carry a trailing blank, which the
// key comparison trims, so files write them without it. TIME labels two controls.
constexpr CaptionKey kCaptionKeys[] = {
    {"CONN_READER", "Reader Connection", id::kConnectionGroup},
    {"CONN_COMPORT", "Com Port:", id::kCommPortLabel},
    {"CONN_BAUD", "Baudrate:", id::kConnectBaudLabel},
    {"BUTTON_CONNECT", "Connect", id::kConnect},
    {"BUTTON_DISCONNECT", "Disconnect", id::kDisconnect},
    {"READER_INDICATE", "Reader Indicator", id::kIndicatorGroup},
    {"READER_BUZZER", "Buzzer", id::kBuzzerCheck},
    {"BAUD_SET", "Address Setting", id::kAddressGroup},
    {"BAUD_BAUD", "Baudrate:", id::kBaudLabel},
    {"MODE_WORKMODE", "Work Mode", id::kWorkModeGroup},
    {"MODE_ALLWAYS", "Read Always", id::kAlwaysReadRadio},
    {"MODE_TRIGGER", "Read by Trigger", id::kTriggerRadio},
    {"MODE_READTIME", "Read Time\r\n(1-255):", id::kReadTimeLabel},
    {"MODE_S", "s", id::kReadTimeUnit},
    {"WEIGAND_26", "26", id::kWiegand26Radio},
    {"WEIGAND_34", "34", id::kWiegand34Radio},
    {"RF_RF", "RF Settings", id::kRfGroup},
    {"RF_POWER", "Power", id::kPowerLabel},
    {"RF_FREQ", "Freq", id::kFreqLabel},
    {"RF_TO", "to", id::kFreqToLabel},
    {"RF_HZ", "kHz", id::kFreqUnitLabel},
    {"BUTTON_READ_CONF", "Read Configuration", id::kReadConfiguration},
    {"BUTTON_FACTORY_DEFAULT", "Factory Default", id::kFactoryDefault},
    {"BUTTON_SAVE_CHANGES", "Save Changes", id::kSaveChanges},
    {"BUTTON_READ_TAG", "Read Tag", id::kReadTag},
    {"WIEGAND_OUTPUT_SETTINGS", "Wiegand Output Settings", id::kWiegandOutputGroup},
    {"WIEGAND_FORMAT", "Wiegand Format", id::kWiegandFormatGroup},
    {"TAG_READING_INTERVAL", "Tag Reading Interval", id::kReadingIntervalGroup},
    {"TIME", "Time", id::kOutputTimeLabel},
    {"TIME", "Time", id::kReadingIntervalLabel},
    {"START_BYTES", "Start Bytes", id::kStartBytesLabel},
    {"FORWARD_OUTPUT", "Forward Output", id::kForwardRadio},
    {"INVERTED_OUTPUT", "Inverted Output", id::kInvertedRadio},
    {"LENGTH ", "Length", id::kLengthLabel},
    {"OUTPUT_TIME ", "Output Time(1-20)", id::kOutputTimeGroup},
};

// The one key whose value may spell a line break as the four characters \r\n, so that the
// read-time label can span two lines.
constexpr char kLineBreakKey[] = "MODE_READTIME";
constexpr char kEscapedLineBreak[] = "\\r\\n";
constexpr char kLineBreak[] = "\r\n";

struct MessageKey {
    const char* key;
    const char* defaultText;
    QString MessageTexts::*member;
};

// Reading order of the messages; the misspelt keys are the ones existing files use.
const MessageKey kMessageKeys[] = {
    {"MESSAGE_SAVED", "Saved!", &MessageTexts::saved},
    {"MESSAGE_SUCCESS", "Success!", &MessageTexts::success},
    {"MESSAGE_CONNECT_FAIL", "Connection Fail!", &MessageTexts::connectFail},
    {"MESSAGE_DISCONNECTED", "Disconnected!", &MessageTexts::disconnected},
    {"MESSAGE_CONNECT_SUCCESFUL", "Connection Successful!", &MessageTexts::connectSuccessful},
    {"MESSAGE_GET_OUTPOWER_FAIL", "Get OutPowerFail!", &MessageTexts::getOutPowerFail},
    {"MESSAGE_GET_WIEGAND_OUTPUT_SETTINGS_FAIL", "Get Wiegand Output Settings Fail!",
     &MessageTexts::getWiegandOutputSettingsFail},
    {"MESSAGE_SET_WIEGAND_OUTPUT_SETTINGS_FAIL", "Set Wiegand Output Settings Fail!",
     &MessageTexts::setWiegandOutputSettingsFail},
    {"MESSAGE_GET_FREQUENCY_REGION_FAIL", "Get Frequency Region Fail!",
     &MessageTexts::getFrequencyRegionFail},
    {"MESSAGE_GET_ADDRESS_FAIL", "Get Address Fail!", &MessageTexts::getAddressFail},
    {"MESSAGE_READ_CONFIGURATION_OK", "Read Configuration OK!", &MessageTexts::readConfigurationOk},
    {"MESSAGE_SET_FREQUENCY_REGION_FAIL", "Set Frequency Region Fail!",
     &MessageTexts::setFrequencyRegionFail},
    {"MESSAGE_SET_ADDRESS_FAIL", "Set Address Fail!", &MessageTexts::setAddressFail},
    {"MESSAGE_FREQ_ERROR", "Freq Error!", &MessageTexts::freqError},
    {"MESSAGE_LENGHT_BYTES_PARAMETER_ERROR", "Lenght Bytes Parameter Error!",
     &MessageTexts::lengthBytesParameterError},
    {"MESSAGE_START_BYTES_PARAMETER_ERROR", "Start Bytes Parameter Error!",
     &MessageTexts::startBytesParameterError},
    {"MESSAGE_READ_TIME_PARAMETER_ERROR", "Read Time Parameter Error!",
     &MessageTexts::readTimeParameterError},
    {"MESSAGE_OUTPUT_TIME_PARAMETER_ERROR", "Output Time(1-20)", &MessageTexts::outputTimeParameterError},
    {"MESSAGE_DELETE", "Delete Record?", &MessageTexts::deleteRecord},
    {"MESSAGE_WARNNING", "Warnning", &MessageTexts::warning},
    {"MESSAGE_PARAMETER_ERROR", "Parameter Error!", &MessageTexts::parameterError},
    {"MESSAGE_FACTORY_DEFAULT_FAIL", "Factory Default Fail!", &MessageTexts::factoryDefaultFail},
    {"MESSAGE_EXPORT_FAIL", "Export Fail!", &MessageTexts::exportFail},
};

struct MenuKey {
    const char* key;
    const char* defaultText;
    QString TagListMenuTexts::*member;
};

const MenuKey kTagListMenuKeys[] = {
    {"MENU_EXPORT_CSV", "Export to CSV…", &TagListMenuTexts::exportCsv},
    {"MENU_COPY", "Copy", &TagListMenuTexts::copyRows},
};

struct ColumnKey {
    const char* key;
    const char* defaultText;
    int width;
};

constexpr ColumnKey kColumnKeys[kTagListColumnCount] = {
    {"LIST_NO", "No.", 90},
    {"LIST_ID", "Card Number", 250},
    {"LIST_SUCCESS_TIMES", "Success Times", 150},
    {"LIST_EPCLEN", "EPC Length", 150},
};

QString Text(const LanguageFile& file, const char* key, const char* defaultText) {
    return file.Value(QString::fromLatin1(kSection), QString::fromLatin1(key))
        .value_or(QString::fromUtf8(defaultText));
}

}  // namespace

LanguageTexts LoadLanguageTexts(const LanguageFile& file) {
    LanguageTexts texts;
    for (const CaptionKey& caption : kCaptionKeys) {
        QString text = Text(file, caption.key, caption.defaultText);
        if (QLatin1StringView(caption.key) == QLatin1StringView(kLineBreakKey)) {
            text.replace(QString::fromLatin1(kEscapedLineBreak), QString::fromLatin1(kLineBreak));
        }
        texts.captions.push_back({caption.controlId, text});
    }
    for (const MessageKey& message : kMessageKeys) {
        texts.messages.*message.member = Text(file, message.key, message.defaultText);
    }
    for (int column = 0; column < kTagListColumnCount; ++column) {
        const ColumnKey& key = kColumnKeys[column];
        texts.columns[static_cast<std::size_t>(column)] = {Text(file, key.key, key.defaultText), key.width};
    }
    for (const MenuKey& item : kTagListMenuKeys) {
        texts.tagListMenu.*item.member = Text(file, item.key, item.defaultText);
    }
    return texts;
}

}  // namespace zendrik::tool
