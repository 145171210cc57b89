#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QTableWidget;

namespace zendrik::tool {

// The tag list's columns. The list is the only record of the tags read: every lookup reads the
// cell texts back.
inline constexpr int kNumberColumn = 0;
inline constexpr int kCardNumberColumn = 1;
inline constexpr int kSuccessTimesColumn = 2;
inline constexpr int kEpcLengthColumn = 3;

QString CellText(const QTableWidget& table, int row, int column);

// Counts one more read on the first row that `matches`, or appends a row for a card not seen
// before: its row number, the card number, a count of 1 and the EPC length of this read.
void RecordTag(QTableWidget& table, const QString& cardNumber, uint8_t epcLength,
               const std::function<bool(int row)>& matches);

}  // namespace zendrik::tool
