#pragma once

#include <QByteArray>
#include <QString>

namespace zendrik::tool {

// Language files come from translators in two encodings: UTF-8 (with or without a byte-order mark)
// and GB18030, the code page most existing files were written in. Valid UTF-8 is taken as UTF-8;
// anything else is decoded as GB18030.
QString DecodeLanguageFileText(const QByteArray& bytes);

}  // namespace zendrik::tool
