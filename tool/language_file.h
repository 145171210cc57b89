#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace zendrik::tool {

// A read-only INI file with the semantics translators' existing language files rely on: section
// and key names compare without case after trimming blanks, a value is trimmed, loses one pair of
// enclosing quotes and is cut to kMaxValueLength characters; the first occurrence of a key wins.
// Nothing else is interpreted: no escapes, no comments inside values, no list splitting.
class LanguageFile {
  public:
    static constexpr qsizetype kMaxValueLength = 199;

    LanguageFile() = default;
    // Parses already decoded text.
    static LanguageFile FromText(const QString& text);
    // Reads and decodes a file; a missing or unreadable file gives an empty LanguageFile.
    static LanguageFile Load(const QString& path);

    std::optional<QString> Value(const QString& section, const QString& key) const;

  private:
    struct Entry {
        QString section;
        QString key;
        QString value;
    };
    std::vector<Entry> entries_;
};

// The language file the tool reads: config.ini in the current working directory.
QString LanguageFilePath();

}  // namespace zendrik::tool
