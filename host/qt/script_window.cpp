#include "host/qt/script_window.h"

#include "host/qt/qt_text.h"

namespace host {

namespace {

// Text of a masked field with nothing typed in it: only the mask's separators.
bool onlyMaskSeparators(const QString& text) {
    for (QChar c : text) {
        if (c.isLetterOrNumber()) return false;
    }
    return true;
}

}  // namespace

std::string ShownBytes::read(const QString& now) const {
    return now == shown ? bytes : fromQString(now);
}

ShownBytes showText(QLineEdit* field, const std::string& text) {
    field->setText(toQString(text));
    return {text, field->text()};
}

std::string FieldTexts::get(const QLineEdit* field) const {
    const QString shown = field->text();
    const auto origin = origins_.find(field);
    if (origin != origins_.end() && shown == origin->second.shown) return origin->second.bytes;
    if (!field->inputMask().isEmpty() && onlyMaskSeparators(shown)) return {};
    return fromQString(shown);
}

void closeWindow(QCloseEvent* event, BusyIndicator& busy, bool& saved,
                 const std::function<bool()>& save) {
    if (!busy.allowClose()) {
        event->ignore();
        return;
    }
    if (!saved) {
        saved = true;
        if (!save()) {
            saved = false;
            event->ignore();
            return;
        }
    }
    event->accept();
}

bool runScript(const BusyIndicator& busy, const std::function<void()>& script,
               const std::function<void(std::exception_ptr)>& failed) {
    if (busy.isBusy()) return false;
    try {
        script();
    } catch (const RunStopped&) {
        // Stopped by the user: what was done shows, and nothing more is said.
    } catch (...) {
        failed(std::current_exception());
    }
    return true;
}

}  // namespace host
