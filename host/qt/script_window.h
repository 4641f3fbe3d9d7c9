// What the two programs' windows share on the Qt side: fields that keep the
// bytes they were set from, the guarded run of a control's script, and the
// names the scripts know controls by.
#pragma once

#include <QCloseEvent>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <map>
#include <string>

#include "host/qt/busy.h"

namespace host {

// The bytes a text was shown from. Qt holds text as UTF-16, so a file name
// that is not valid UTF-8 would come back altered; while the shown text is
// unchanged, the bytes it was shown from are the value. Keeping a name's bytes
// intact is a data-safety rule, and this is its one home.
struct ShownBytes {
    std::string bytes;
    QString shown;
    // The value for what the control shows now.
    std::string read(const QString& now) const;
};
// Shows `text` in `field` and returns what to read it back with.
ShownBytes showText(QLineEdit* field, const std::string& text);

// The path and date fields of a window, read and written as bytes.
class FieldTexts {
  public:
    void set(QLineEdit* field, const std::string& text) { origins_[field] = showText(field, text); }
    // Unchanged since set: the bytes it was set from. A masked field with
    // nothing typed in it (only the mask's separators): "".
    std::string get(const QLineEdit* field) const;

  private:
    std::map<const QLineEdit*, ShownBytes> origins_;
};

// Runs a control's script unless an operation is running (false then). An
// exception leaving the script goes to `failed` and the window stays open;
// RunStopped ends the script quietly.
bool runScript(const BusyIndicator& busy, const std::function<void()>& script,
               const std::function<void(std::exception_ptr)>& failed);

// A window's close event: refused while an operation runs (the busy indicator
// says so); otherwise `save` runs the first time only, so that the settings
// are written once however often the close is asked for, and the window closes.
// `save` returns false when the settings cannot be written yet and the window
// stays open meanwhile: the close is refused, and the next one runs `save` again.
void closeWindow(QCloseEvent* event, BusyIndicator& busy, bool& saved,
                 const std::function<bool()>& save);

// Gives a new control the name the scripts know it by.
template <typename T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace host
