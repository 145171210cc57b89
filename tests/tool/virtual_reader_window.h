// The tool's window driven against the virtual reader in this process: the reader model served
// as a virtual HID device on a socket in a private directory, the library pointed at it through
// ZENDRIK_HID_SOCKET, and a window whose boxes are recorded and answered by the test.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/frame.h"
#include "sim/hid_socket_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "tool/control_ids.h"
#include "tool/main_dlg.h"

namespace zendrik::tool::testing {

namespace id = control_id;
namespace command = zendrik::command;
using Commands = std::vector<uint8_t>;

inline constexpr char kHidSocketVariable[] = "ZENDRIK_HID_SOCKET";

// The reader and its socket. The library looks the variable up at every USB locate, so a test may
// point it elsewhere (PointNowhere) and back (PointHere).
class VirtualReader {
  public:
    explicit VirtualReader(uint8_t kind = sim::kKindStandard)
        : reader_(kind),
          server_([this](std::span<const uint8_t> request) { return reader_.Answer(request); },
                  directory_.path() + "/hid.sock") {
        PointHere();
    }

    sim::Reader& reader() { return reader_; }
    void PointHere() const { ::setenv(kHidSocketVariable, server_.path().c_str(), 1); }
    void PointNowhere() const { ::setenv(kHidSocketVariable, (directory_.path() + "/none.sock").c_str(), 1); }

    // The standard-frame commands received since the last ClearRequests, in order.
    Commands StandardCommands() const {
        Commands commands;
        for (const sim::LoggedRequest& logged : reader_.requests()) {
            if (logged.request.family == sim::FrameFamily::kStandard) {
                commands.push_back(logged.request.command);
            }
        }
        return commands;
    }
    // The data of every request with this command, in order.
    std::vector<std::vector<uint8_t>> DataOf(uint8_t commandCode) const {
        std::vector<std::vector<uint8_t>> data;
        for (const sim::LoggedRequest& logged : reader_.requests()) {
            if (logged.request.family == sim::FrameFamily::kStandard &&
                logged.request.command == commandCode) {
                data.push_back(logged.request.data);
            }
        }
        return data;
    }

  private:
    sim::TempDir directory_;
    sim::Reader reader_;
    sim::HidSocketServer server_;
};

// The commands of `commands` that are in `wanted`, in order: a write sequence without the reads
// the library makes to check it.
inline Commands Only(const Commands& commands, const Commands& wanted) {
    Commands kept;
    for (const uint8_t code : commands) {
        if (std::find(wanted.begin(), wanted.end(), code) != wanted.end()) {
            kept.push_back(code);
        }
    }
    return kept;
}

inline bool Contains(const Commands& commands, uint8_t code) {
    return std::find(commands.begin(), commands.end(), code) != commands.end();
}

// The window with its boxes recorded: message boxes and field prompts in order, and the OK/Cancel
// question answered as the test says.
class RecordingWindow : public CMainDlg {
  public:
    RecordingWindow() : CMainDlg(Environment{}) {}

    QStringList messages;
    QStringList questions;  // "caption: text"
    bool answerOk = true;
    // The application's cursor at each message and prompt: its shape, or -1 for none set.
    QList<int> cursorsAtBoxes;

    using CMainDlg::OnComTransport;
    using CMainDlg::OnUsbTransport;

    template <class Widget>
    Widget* Find(int controlId) const {
        return ControlAs<Widget>(controlId);
    }
    QAbstractButton* Button(int controlId) const { return Find<QAbstractButton>(controlId); }
    QComboBox* List(int controlId) const { return Find<QComboBox>(controlId); }
    QTableWidget* TagList() const { return Find<QTableWidget>(id::kTagList); }
    QString Text(int controlId) const {
        if (auto* edit = Find<QLineEdit>(controlId)) {
            return edit->text();
        }
        return Find<QLabel>(controlId)->text();
    }
    void SetText(int controlId, const QString& text) const { Find<QLineEdit>(controlId)->setText(text); }
    // Clicks a control that is hidden or disabled in the shipped window, as a service mode would.
    void ForceClick(int controlId) const {
        QAbstractButton* button = Button(controlId);
        button->setEnabled(true);
        button->click();
    }
    bool Connected() const {
        return !Button(id::kConnect)->isEnabled() && Button(id::kDisconnect)->isEnabled() &&
               Button(id::kReadConfiguration)->isEnabled() && Button(id::kSaveChanges)->isEnabled() &&
               Button(id::kFactoryDefault)->isEnabled() && Button(id::kReadTag)->isEnabled();
    }
    bool Disconnected() const {
        return Button(id::kConnect)->isEnabled() && !Button(id::kDisconnect)->isEnabled() &&
               !Button(id::kReadConfiguration)->isEnabled() && !Button(id::kSaveChanges)->isEnabled() &&
               !Button(id::kFactoryDefault)->isEnabled() && !Button(id::kReadTag)->isEnabled();
    }
    QString Status() const { return Text(id::kStatusLine); }
    void SetStatus(const QString& text) {
        fields_.status = text;
        ShowFields();
    }

  protected:
    void ShowMessage(const QString& text) override {
        messages.append(text);
        RecordCursor();
    }
    bool AskOkCancel(const QString& text, const QString& caption) override {
        questions.append(caption + QStringLiteral(": ") + text);
        return answerOk;
    }
    void ShowFieldPrompt(const QString& text) override {
        messages.append(text);
        RecordCursor();
    }

  private:
    void RecordCursor() {
        const QCursor* cursor = QApplication::overrideCursor();
        cursorsAtBoxes.append(cursor != nullptr ? int{cursor->shape()} : -1);
    }
};

// Runs the tests from an empty working directory, so the window shows its built-in texts.
class EmptyWorkingDirectory {
  public:
    EmptyWorkingDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(directory_.path()); }
    ~EmptyWorkingDirectory() { QDir::setCurrent(previous_); }
    EmptyWorkingDirectory(const EmptyWorkingDirectory&) = delete;
    EmptyWorkingDirectory& operator=(const EmptyWorkingDirectory&) = delete;

  private:
    QString previous_;
    QTemporaryDir directory_;
};

}  // namespace zendrik::tool::testing
