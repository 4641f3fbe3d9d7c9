// A Host for tests: records every message and dialog request, and answers from
// queues the test fills beforehand. An empty queue answers "cancelled".
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "host/host.h"

namespace host {

class ScriptedHost : public Host {
  public:
    struct Message {
        std::string title;
        std::string text;
        bool operator==(const Message&) const = default;
    };

    // What the fake was asked, in order.
    std::vector<Message> messages;           // message boxes and question boxes
    std::vector<std::string> dialogTitles;   // folder, open and save dialogs
    std::vector<std::string> dialogFilters;  // the filter list of each file-open dialog
    std::vector<std::vector<std::string>> startedPrograms;  // program followed by its arguments
    std::vector<std::string> openedFiles;
    int processEventsCalls = 0;

    // Queued answers.
    std::deque<int> questionAnswers;  // kButtonOk / kButtonCancel
    std::deque<DialogResult> folderAnswers;
    std::deque<DialogResult> openAnswers;
    std::deque<SaveDialogResult> saveAnswers;
    std::string clipboard;
    bool startProgramResult = true;
    bool openResult = true;

    void messageBox(const std::string& title, const std::string& text) override;
    int questionBox(const std::string& title, const std::string& text, MessageIcon icon,
                    MessageButtons buttons, int defaultButton) override;
    DialogResult folderDialog(const std::string& title) override;
    DialogResult fileOpenDialog(const std::string& title, const std::string& defaultExtension,
                                const std::string& filters) override;
    SaveDialogResult fileSaveDialog(const std::string& title) override;
    std::string clipboardText() override { return clipboard; }
    void setClipboardText(const std::string& text) override { clipboard = text; }
    bool startProgram(const std::string& program, const std::vector<std::string>& args) override;
    void openWithAssociatedProgram(const std::string& path, std::function<void()> failed) override;
    void processEvents() override { ++processEventsCalls; }

    // Convenience for tests: queue a chosen folder / file.
    void chooseFolder(const std::string& path) { folderAnswers.push_back({1, path}); }
    void chooseFile(const std::string& path) { openAnswers.push_back({1, path}); }
};

}  // namespace host
