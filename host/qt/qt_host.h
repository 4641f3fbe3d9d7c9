// The Host for users: Qt message boxes, dialogs, clipboard and processes.
#pragma once

#include <QPointer>
#include <QWidget>

#include "host/host.h"

namespace host {

class QtHost : public Host {
  public:
    // Dialogs are centred on `parent` once it is set.
    void setParentWindow(QWidget* parent) { parent_ = parent; }

    void messageBox(const std::string& title, const std::string& text) override;
    int questionBox(const std::string& title, const std::string& text, MessageIcon icon,
                    MessageButtons buttons, int defaultButton) override;
    DialogResult folderDialog(const std::string& title) override;
    DialogResult fileOpenDialog(const std::string& title, const std::string& defaultExtension,
                                const std::string& filters) override;
    SaveDialogResult fileSaveDialog(const std::string& title) override;
    std::string clipboardText() override;
    void setClipboardText(const std::string& text) override;
    bool startProgram(const std::string& program, const std::vector<std::string>& args) override;
    void openWithAssociatedProgram(const std::string& path, std::function<void()> failed) override;
    void processEvents() override;

  private:
    QPointer<QWidget> parent_;
};

// "description,pattern,description,pattern" -> Qt's ";;"-separated filter list.
// Each pattern is offered in lower and upper case as well, so "*.TXT" also
// shows list.txt (POSIX names are case-sensitive, the patterns were not).
QString qtFileFilters(const std::string& filters);

}  // namespace host
