#pragma once

#include <QString>
#include <array>
#include <vector>

#include "tool/language_file.h"

namespace zendrik::tool {

// The texts handlers show in message boxes and in the status line, one per message key of the
// language file.
struct MessageTexts {
    QString saved;
    QString success;
    QString connectFail;
    QString disconnected;
    QString connectSuccessful;
    QString getOutPowerFail;
    QString getWiegandOutputSettingsFail;
    QString setWiegandOutputSettingsFail;
    QString getFrequencyRegionFail;
    QString getAddressFail;
    QString readConfigurationOk;
    QString setFrequencyRegionFail;
    QString setAddressFail;
    QString freqError;
    QString lengthBytesParameterError;
    QString startBytesParameterError;
    QString readTimeParameterError;
    QString outputTimeParameterError;
    QString deleteRecord;
    QString warning;
    QString parameterError;
    QString factoryDefaultFail;  // not in older language files; its default is used there
    QString exportFail;          // likewise
};

// The tag list's context menu; not in older language files, whose readers get the defaults.
struct TagListMenuTexts {
    QString exportCsv;
    QString copyRows;
};

// A caption for one control of the main window.
struct Caption {
    int controlId;
    QString text;
};

struct ListColumn {
    QString title;
    int width;  // pixels
};

inline constexpr int kTagListColumnCount = 4;

struct LanguageTexts {
    std::vector<Caption> captions;  // in reading order
    MessageTexts messages;
    std::array<ListColumn, kTagListColumnCount> columns;
    TagListMenuTexts tagListMenu;
};

// Every text the window needs, each taken from section "Lan" of the file or, when absent, from
// its built-in English default.
LanguageTexts LoadLanguageTexts(const LanguageFile& file);

}  // namespace zendrik::tool
