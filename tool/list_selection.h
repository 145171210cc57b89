#pragma once

class QComboBox;

namespace zendrik::tool {

// The entry an editable list stands for. Its edit field may hold any typed text: only an exact
// entry counts as selecting that entry, and any other text counts as no selection (kNoSelection),
// whatever entry was selected before the typing. A list without an edit field gives its index.
int SelectedIndex(const QComboBox& list);

// Makes an editable list select the entry whose text is typed into it, so that the list's own
// index and the highlighted entry of its drop-down agree with its edit field.
void SelectTypedEntries(QComboBox* list);

}  // namespace zendrik::tool
