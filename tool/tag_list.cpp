#include "tool/tag_list.h"

#include <QTableWidget>
#include <memory>

#include "tool/card_number.h"

namespace zendrik::tool {
namespace {

void SetCell(QTableWidget& table, int row, int column, const QString& text) {
    // The table takes ownership of the item.
    table.setItem(row, column, std::make_unique<QTableWidgetItem>(text).release());
}

int FindRow(const QTableWidget& table, const std::function<bool(int row)>& matches) {
    for (int row = 0; row < table.rowCount(); ++row) {
        if (matches(row)) {
            return row;
        }
    }
    return -1;
}

}  // namespace

QString CellText(const QTableWidget& table, int row, int column) {
    const QTableWidgetItem* item = table.item(row, column);
    return item != nullptr ? item->text() : QString();
}

void RecordTag(QTableWidget& table, const QString& cardNumber, uint8_t epcLength,
               const std::function<bool(int row)>& matches) {
    if (const int row = FindRow(table, matches); row >= 0) {
        const uint32_t count = SuccessTimesOf(CellText(table, row, kSuccessTimesColumn));
        SetCell(table, row, kSuccessTimesColumn, QString::number(count + 1));
        return;
    }
    const int row = table.rowCount();
    table.insertRow(row);
    SetCell(table, row, kNumberColumn, RowNumberText(row + 1));
    SetCell(table, row, kCardNumberColumn, cardNumber);
    SetCell(table, row, kSuccessTimesColumn, QStringLiteral("1"));
    SetCell(table, row, kEpcLengthColumn, QString::number(epcLength));
}

}  // namespace zendrik::tool
