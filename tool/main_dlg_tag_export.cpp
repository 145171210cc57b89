// The tag list's context menu: the whole list exported to a CSV file, and the selected rows copied
// to the clipboard for a spreadsheet.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QSaveFile>
#include <QTableWidget>
#include <algorithm>

#include "tool/main_dlg.h"
#include "tool/owned_widget.h"
#include "tool/tag_list.h"
#include "tool/tag_list_export.h"

namespace zendrik::tool {
namespace {

constexpr char kCsvNameFilter[] = "CSV (*.csv)";
constexpr char kCsvSuffix[] = "csv";

QStringList ColumnTitles(const QTableWidget& table) {
    QStringList titles;
    for (int column = 0; column < table.columnCount(); ++column) {
        const QTableWidgetItem* header = table.horizontalHeaderItem(column);
        titles.append(header != nullptr ? header->text() : QString());
    }
    return titles;
}

QStringList RowTexts(const QTableWidget& table, int row) {
    QStringList cells;
    for (int column = 0; column < table.columnCount(); ++column) {
        cells.append(CellText(table, row, column));
    }
    return cells;
}

// Selected rows in list order, whatever order they were selected in.
QList<int> SelectedRows(const QTableWidget& table) {
    QList<int> rows;
    for (const QModelIndex& index : table.selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

void CMainDlg::BuildTagListMenu() {
    exportTagListAction_ = MakeChild<QAction>(tagList_);
    exportTagListAction_->setObjectName(QStringLiteral("exportTagList"));
    copyTagRowsAction_ = MakeChild<QAction>(tagList_);
    copyTagRowsAction_->setObjectName(QStringLiteral("copyTagRows"));
    copyTagRowsAction_->setShortcut(QKeySequence::Copy);
    copyTagRowsAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    copyTagRowsAction_->setEnabled(false);
    tagList_->addAction(exportTagListAction_);
    tagList_->addAction(copyTagRowsAction_);
    tagList_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(exportTagListAction_, &QAction::triggered, this, &CMainDlg::OnExportTagList);
    connect(copyTagRowsAction_, &QAction::triggered, this, &CMainDlg::OnCopyTagRows);
    connect(tagList_, &QTableWidget::itemSelectionChanged, this,
            [this] { copyTagRowsAction_->setEnabled(tagList_->selectionModel()->hasSelection()); });
}

void CMainDlg::OnExportTagList() {
    const QString path = ChooseExportPath(tagListMenu_.exportCsv);
    if (path.isEmpty()) {
        return;
    }
    QList<QStringList> rows;
    for (int row = 0; row < tagList_->rowCount(); ++row) {
        rows.append(RowTexts(*tagList_, row));
    }
    // Written beside the target and renamed over it, so a failed export leaves no half file.
    QSaveFile file(path);
    const QByteArray csv = TagListCsv(ColumnTitles(*tagList_), rows);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        ShowMessage(messages_.exportFail);
    }
}

void CMainDlg::OnCopyTagRows() {
    QList<QStringList> rows;
    for (const int row : SelectedRows(*tagList_)) {
        rows.append(RowTexts(*tagList_, row));
    }
    if (!rows.isEmpty()) {
        QApplication::clipboard()->setText(TabSeparatedRows(rows));
    }
}

QString CMainDlg::ChooseExportPath(const QString& caption) {
    QFileDialog dialog(this, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QString::fromLatin1(kCsvNameFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(kCsvSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace zendrik::tool
