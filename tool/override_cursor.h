#pragma once

#include <QApplication>
#include <QCursor>

namespace zendrik::tool {

// Shows `shape` over the whole application while it lives. Guards nest: each one restores what
// was shown before it, however its scope is left.
class OverrideCursor {
  public:
    explicit OverrideCursor(Qt::CursorShape shape) { QApplication::setOverrideCursor(QCursor(shape)); }
    ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
};

// The handlers that wait on the reader for seconds at a time (Connect, Read Configuration, Save
// Changes, Factory Default) show the wait cursor for as long as they run.
class WaitCursor : public OverrideCursor {
  public:
    WaitCursor() : OverrideCursor(Qt::WaitCursor) {}
};

}  // namespace zendrik::tool
