#include "host/qt/qt_host.h"

#include <functional>
#include <optional>

#include "host/desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include "host/qt/qt_text.h"

namespace host {

namespace {
QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::StopSign:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

QString qtFileFilters(const std::string& filters) {
    QStringList parts = toQString(filters).split(',');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            for (const QString& variant : {trimmed, trimmed.toLower(), trimmed.toUpper()}) {
                if (!patterns.contains(variant)) patterns << variant;
            }
        }
        result << QString("%1 (%2)").arg(parts[i].trimmed(), patterns.join(' '));
    }
    return result.join(";;");
}

void QtHost::messageBox(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, toQString(title), toQString(text), QMessageBox::Ok,
                    parent_);
    box.exec();
}

int QtHost::questionBox(const std::string& title, const std::string& text, MessageIcon icon,
                        MessageButtons buttons, int defaultButton) {
    QMessageBox box(qtIcon(icon), toQString(title), toQString(text), QMessageBox::NoButton,
                    parent_);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = nullptr;
    if (buttons == MessageButtons::OkCancel) cancel = box.addButton(QMessageBox::Cancel);
    if (defaultButton == kButtonCancel && cancel) {
        box.setDefaultButton(cancel);
    } else {
        box.setDefaultButton(ok);
    }
    box.exec();
    return box.clickedButton() == ok ? kButtonOk : kButtonCancel;
}

DialogResult QtHost::folderDialog(const std::string& title) {
    const QString folder = QFileDialog::getExistingDirectory(
        parent_, toQString(title), QString(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (folder.isEmpty()) return {};
    return {1, pathFromQString(folder)};
}

DialogResult QtHost::fileOpenDialog(const std::string& title, const std::string& defaultExtension,
                                    const std::string& filters) {
    QFileDialog dialog(parent_, toQString(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtFileFilters(filters));
    dialog.setDefaultSuffix(toQString(defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return {1, pathFromQString(dialog.selectedFiles().first())};
}

SaveDialogResult QtHost::fileSaveDialog(const std::string& title) {
    static const struct {
        const char* filter;
        const char* suffix;
        SaveFormat format;
    } kFormats[] = {
        {"文本文件 (*.txt)", "txt", SaveFormat::Text},
        {"CSV 文件 (*.csv)", "csv", SaveFormat::Csv},
        {"Excel 工作簿 (*.xlsx)", "xlsx", SaveFormat::Xlsx},
    };
    QStringList filters;
    for (const auto& format : kFormats) filters << QString::fromUtf8(format.filter);
    QFileDialog dialog(parent_, toQString(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix("txt");
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        dialog.setDefaultSuffix(QString::fromUtf8(kFormats[filters.indexOf(filter)].suffix));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
    return {1, pathFromQString(dialog.selectedFiles().first()),
            kFormats[chosen < 0 ? 0 : chosen].format};
}

std::string QtHost::clipboardText() {
    return fromQString(QApplication::clipboard()->text());
}

void QtHost::setClipboardText(const std::string& text) {
    QApplication::clipboard()->setText(toQString(text));
}

namespace {

// Asks a launched program for its end from the event loop until it answers,
// so that none is left behind unreaped, and hands its status to `ended`.
void watchLaunched(long long id, std::function<void(int)> ended) {
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, id, ended = std::move(ended)] {
        const std::optional<int> status = launchedProgramStatus(id);
        if (!status) return;
        timer->stop();
        timer->deleteLater();
        ended(*status);
    });
    timer->start();
}

}  // namespace

bool QtHost::startProgram(const std::string& program, const std::vector<std::string>& args) {
    // The argument bytes go through unchanged: a name that is not valid UTF-8
    // would lose bytes on its way through a QString.
    const std::optional<long long> id = launchProgram({program, args});
    if (!id) return false;
    watchLaunched(*id, [](int) {});
    return true;
}

void QtHost::openWithAssociatedProgram(const std::string& path, std::function<void()> failed) {
    // Where the system answers at once (Windows), its answer is the result.
    if (const std::optional<bool> opened = openWithAssociatedProgramNow(path)) {
        if (!*opened) failed();
        return;
    }
    // The helper reports failure only through its exit status; it is watched
    // without blocking the window and a failure reported when it comes.
    const std::optional<long long> id = launchProgram(fileOpener(path));
    if (!id) {
        failed();
        return;
    }
    watchLaunched(*id, [failed = std::move(failed)](int status) {
        if (status != 0) failed();
    });
}

void QtHost::processEvents() {
    QApplication::processEvents();
}

}  // namespace host
