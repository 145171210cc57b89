// Feeds arbitrary bytes, as a config.ini, to the language file reader the tool loads its texts
// with: the decoding (UTF-8, else GB18030), the INI parser and the lookup of every key. Besides
// the sanitizers' own findings, it stops when a text comes out longer than the longest value a file
// may give, or when a value read back ends in half a surrogate pair.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tool/language_file.h"
#include "tool/language_texts.h"
#include "tool/text_decoding.h"

namespace {

using zendrik::tool::LanguageFile;

void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

void CheckText(const QString& text) {
    Require(text.size() <= LanguageFile::kMaxValueLength);
    Require(text.isEmpty() || !text.back().isHighSurrogate());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const LanguageFile file = LanguageFile::FromText(zendrik::tool::DecodeLanguageFileText(bytes));
    const zendrik::tool::LanguageTexts texts = zendrik::tool::LoadLanguageTexts(file);
    for (const zendrik::tool::Caption& caption : texts.captions) {
        CheckText(caption.text);
    }
    for (const zendrik::tool::ListColumn& column : texts.columns) {
        CheckText(column.title);
    }
    CheckText(texts.messages.saved);
    CheckText(texts.messages.connectFail);
    return 0;
}
