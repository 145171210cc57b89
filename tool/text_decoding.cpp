#include "tool/text_decoding.h"

#include <iconv.h>

#include <QStringDecoder>
#include <memory>
#include <string>

namespace zendrik::tool {
namespace {

constexpr char kLegacyEncoding[] = "GB18030";
constexpr char kUtf8[] = "UTF-8";
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

struct IconvCloser {
    void operator()(iconv_t handle) const { iconv_close(handle); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

bool IsValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

// Converts with iconv; a byte sequence that is invalid even as GB18030 is skipped, so that one bad
// byte costs one character and not the whole file.
QString DecodeLegacy(const QByteArray& bytes) {
    IconvHandle converter(iconv_open(kUtf8, kLegacyEncoding));
    if (converter.get() == reinterpret_cast<iconv_t>(-1)) {
        converter.release();
        return QString::fromLatin1(bytes);
    }
    std::string input(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // A GB18030 character of up to four bytes becomes at most four UTF-8 bytes.
    std::string output(input.size() * 4 + 4, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        ++in;  // skip the byte that could not be converted
        --inLeft;
    }
    output.resize(output.size() - outLeft);
    return QString::fromStdString(output);
}

}  // namespace

QString DecodeLanguageFileText(const QByteArray& bytes) {
    if (bytes.startsWith(kUtf8ByteOrderMark)) {
        return QString::fromUtf8(bytes.mid(static_cast<qsizetype>(sizeof(kUtf8ByteOrderMark) - 1)));
    }
    if (IsValidUtf8(bytes)) {
        return QString::fromUtf8(bytes);
    }
    return DecodeLegacy(bytes);
}

}  // namespace zendrik::tool
