#include "tool/language_file.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include "tool/blank_chars.h"
#include "tool/text_decoding.h"

namespace zendrik::tool {
namespace {

constexpr char kFileName[] = "config.ini";

QString TrimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin).toString();
}

QString StripEnclosingQuotes(const QString& value) {
    constexpr qsizetype kQuotePairLength = 2;
    if (value.size() >= kQuotePairLength && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.mid(1, value.size() - kQuotePairLength);
    }
    return value;
}

// Cuts at a character count without splitting a surrogate pair.
QString CutToMaxLength(const QString& value) {
    if (value.size() <= LanguageFile::kMaxValueLength) {
        return value;
    }
    qsizetype length = LanguageFile::kMaxValueLength;
    if (value[length - 1].isHighSurrogate()) {
        --length;
    }
    return value.left(length);
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

LanguageFile LanguageFile::FromText(const QString& text) {
    LanguageFile file;
    QString section;
    const QStringList lines = text.split(u'\n');
    for (const QString& rawLine : lines) {
        const QString line =
            TrimBlanks(rawLine.endsWith(u'\r') ? QStringView(rawLine).chopped(1) : QStringView(rawLine));
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            section = TrimBlanks(QStringView(line).mid(1, close < 0 ? -1 : close - 1));
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            continue;
        }
        const QString value = StripEnclosingQuotes(TrimBlanks(QStringView(line).mid(equals + 1)));
        file.entries_.push_back({section, TrimBlanks(QStringView(line).left(equals)), CutToMaxLength(value)});
    }
    return file;
}

LanguageFile LanguageFile::Load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return FromText(DecodeLanguageFileText(file.readAll()));
}

std::optional<QString> LanguageFile::Value(const QString& section, const QString& key) const {
    const QString wantedSection = TrimBlanks(section);
    const QString wantedKey = TrimBlanks(key);
    for (const Entry& entry : entries_) {
        if (SameName(entry.section, wantedSection) && SameName(entry.key, wantedKey)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

QString LanguageFilePath() {
    return QDir::current().filePath(QString::fromLatin1(kFileName));
}

}  // namespace zendrik::tool
