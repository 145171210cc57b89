#include "tool/list_selection.h"

#include <QComboBox>

#include "tool/display_rules.h"

namespace zendrik::tool {
namespace {

// Entries are compared as they are written: "05" is not the entry "5".
constexpr Qt::MatchFlags kExactEntry = Qt::MatchExactly | Qt::MatchCaseSensitive;

}  // namespace

int SelectedIndex(const QComboBox& list) {
    const int current = list.currentIndex();
    if (!list.isEditable()) {
        return current;
    }
    const QString text = list.currentText();
    if (current != kNoSelection && list.itemText(current) == text) {
        return current;
    }
    return list.findText(text, kExactEntry);
}

void SelectTypedEntries(QComboBox* list) {
    QObject::connect(list, &QComboBox::editTextChanged, list, [list](const QString& text) {
        const int entry = list->findText(text, kExactEntry);
        if (entry != kNoSelection && entry != list->currentIndex()) {
            list->setCurrentIndex(entry);
        }
    });
}

}  // namespace zendrik::tool
