// Everything a person sees or the desktop does, behind one interface: the Qt
// implementation for users, a scripted one for tests (ScriptedHost).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace host {

enum class MessageIcon { None, Information, Question, Exclamation, StopSign };
enum class MessageButtons { Ok, OkCancel };
// Button numbers as the message box returns them.
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonCancel = 2;

struct DialogResult {
    int code = 0;      // 1 when the user chose something, another value otherwise
    std::string path;  // the chosen folder or file
};

// A file format offered by the save dialog.
enum class SaveFormat { Text, Csv, Xlsx };
struct SaveDialogResult {
    int code = 0;
    std::string path;
    SaveFormat format = SaveFormat::Text;
};

class Host {
  public:
    virtual ~Host() = default;

    // A notice with one OK button.
    virtual void messageBox(const std::string& title, const std::string& text) = 0;
    // A question; returns kButtonOk or kButtonCancel (1-based button number).
    virtual int questionBox(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons, int defaultButton) = 0;
    virtual DialogResult folderDialog(const std::string& title) = 0;
    // `filters` in the form "description,pattern,description,pattern"; several
    // patterns of one description are separated by ";". Patterns match either
    // letter case on POSIX.
    virtual DialogResult fileOpenDialog(const std::string& title,
                                        const std::string& defaultExtension,
                                        const std::string& filters) = 0;
    virtual SaveDialogResult fileSaveDialog(const std::string& title) = 0;
    virtual std::string clipboardText() = 0;
    virtual void setClipboardText(const std::string& text) = 0;
    // Starts a program without waiting for it; false when it could not start.
    virtual bool startProgram(const std::string& program, const std::vector<std::string>& args) = 0;
    // Opens a file with its associated program without blocking. `failed` is
    // called when the system says it could not: at once, or later from the
    // event loop where only a helper program's end tells.
    virtual void openWithAssociatedProgram(const std::string& path,
                                           std::function<void()> failed) = 0;
    // Lets the window repaint and react during a long loop.
    virtual void processEvents() = 0;
};

}  // namespace host
