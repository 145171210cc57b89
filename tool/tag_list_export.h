#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace zendrik::tool {

// The tag list as a CSV file: UTF-8, a header row of the column titles, then one record per row,
// each ended by CR LF. A cell holding a comma, a double quote or a line break is enclosed in double
// quotes, its own double quotes doubled; every other cell is written as it is.
QByteArray TagListCsv(const QStringList& titles, const QList<QStringList>& rows);

// Rows as a spreadsheet takes them from the clipboard: cells separated by tabs, each row ended by
// a line feed. A tab or line break inside a cell becomes a blank, so that it cannot split the cell.
QString TabSeparatedRows(const QList<QStringList>& rows);

}  // namespace zendrik::tool
