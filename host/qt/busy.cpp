#include "host/qt/busy.h"

#include <QApplication>
#include <QTimer>

#include "host/desktop.h"
#include "host/paths.h"
#include "host/qt/qt_text.h"

namespace host {

namespace {
constexpr qint64 kRepaintIntervalMs = 50;

QIcon iconFromResources(const char* name) {
    return QIcon(QString::fromStdString(resourceDirectory() + "/" + name));
}
}  // namespace

QIcon BusyIndicator::idleIcon() {
    return iconFromResources("hand.ico");
}
QIcon BusyIndicator::alternateIcon() {
    return iconFromResources("flower.ico");
}

BusyIndicator::BusyIndicator(QWidget* window, QLabel* progressLine)
    : window_(window), progressLine_(progressLine) {}

void BusyIndicator::begin() {
    if (depth_++ > 0) return;
    alternate_ = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (progressLine_) {
        progressLine_->clear();
        progressLine_->show();
    }
    if (window_ && minimizesDuringRuns()) window_->showMinimized();
    sinceRepaint_.start();
    QApplication::processEvents();
}

void BusyIndicator::step(long count, std::string_view current) {
    // The alternation is kept per item; only its display is throttled.
    alternate_ = !alternate_;
    if (sinceRepaint_.elapsed() < kRepaintIntervalMs) return;
    sinceRepaint_.restart();
    if (window_) window_->setWindowIcon(alternate_ ? alternateIcon() : idleIcon());
    if (progressLine_) {
        progressLine_->setText(QString("%1  %2").arg(count).arg(toQString(current)));
    }
    QApplication::processEvents();
}

void BusyIndicator::end() {
    if (depth_ == 0 || --depth_ > 0) return;
    if (window_) window_->setWindowIcon(idleIcon());
    if (window_ && minimizesDuringRuns()) window_->showNormal();
    if (progressLine_) progressLine_->hide();
    QApplication::restoreOverrideCursor();
    if (closePending_ && window_) {
        closePending_ = false;
        // Close after the handler that ran the operation has returned.
        QTimer::singleShot(0, window_.data(), [w = window_] {
            if (w) w->close();
        });
    }
}

bool BusyIndicator::allowClose() {
    if (depth_ == 0) return true;
    closePending_ = true;
    return false;
}

}  // namespace host
