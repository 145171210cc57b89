#include "tool/tag_list_export.h"

namespace zendrik::tool {
namespace {

constexpr char16_t kCsvSeparator = u',';
constexpr char16_t kQuote = u'"';
constexpr char kCsvRecordEnd[] = "\r\n";
constexpr char16_t kTab = u'\t';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kCarriageReturn = u'\r';
constexpr char16_t kBlank = u' ';

bool NeedsQuotes(const QString& cell) {
    return cell.contains(kCsvSeparator) || cell.contains(kQuote) || cell.contains(kLineFeed) ||
           cell.contains(kCarriageReturn);
}

QString CsvCell(const QString& cell) {
    if (!NeedsQuotes(cell)) {
        return cell;
    }
    QString quoted = cell;
    quoted.replace(QString(kQuote), QString(2, kQuote));
    return kQuote + quoted + kQuote;
}

void AppendCsvRecord(QString& csv, const QStringList& cells) {
    for (qsizetype index = 0; index < cells.size(); ++index) {
        if (index > 0) {
            csv += kCsvSeparator;
        }
        csv += CsvCell(cells[index]);
    }
    csv += QLatin1StringView(kCsvRecordEnd);
}

QString ClipboardCell(const QString& cell) {
    QString flat = cell;
    for (const char16_t separator : {kTab, kLineFeed, kCarriageReturn}) {
        flat.replace(separator, kBlank);
    }
    return flat;
}

}  // namespace

QByteArray TagListCsv(const QStringList& titles, const QList<QStringList>& rows) {
    QString csv;
    AppendCsvRecord(csv, titles);
    for (const QStringList& row : rows) {
        AppendCsvRecord(csv, row);
    }
    return csv.toUtf8();
}

QString TabSeparatedRows(const QList<QStringList>& rows) {
    QString text;
    for (const QStringList& row : rows) {
        QStringList cells;
        for (const QString& cell : row) {
            cells.append(ClipboardCell(cell));
        }
        text += cells.join(kTab);
        text += kLineFeed;
    }
    return text;
}

}  // namespace zendrik::tool
