#include "host/qt/busy.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QShortcut>
#include <QTimer>
#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "host/desktop.h"
#include "host/paths.h"
#include "host/qt/qt_text.h"

namespace host {

namespace {
constexpr qint64 kRepaintIntervalMs = 50;
// How long after a run stopped by Esc the window's own Esc stays away.
constexpr std::chrono::milliseconds kEscapeGrace{1500};

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
    stop_ = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (progressLine_) {
        progressLine_->clear();
        progressLine_->show();
    }
    if (window_ && minimizesDuringRuns()) window_->showMinimized();
    // Esc stops the run. Only while one runs: the rest of the time it is the
    // window's own (its exit button, a cell editor's cancel), and the
    // window's own Esc shortcuts wait meanwhile.
    if (window_) {
        // Keys still away after a stop stay away, held by this run.
        ++keysGeneration_;
        heldKeys_ = std::exchange(returningKeys_, {});
        for (QShortcut* key : window_->findChildren<QShortcut*>()) {
            if (key->isEnabled() && key->key() == QKeySequence(Qt::Key_Escape)) {
                key->setEnabled(false);
                heldKeys_.emplace_back(key);
            }
        }
        stopKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), window_.data());
        QObject::connect(stopKey_.data(), &QShortcut::activated, window_.data(),
                         [this] { requestStop(); });
    }
    QApplication::processEvents();
}

void BusyIndicator::show(long count, std::string_view current) {
    if (window_) window_->setWindowIcon(alternate_ ? alternateIcon() : idleIcon());
    if (progressLine_) {
        progressLine_->setText(QString("%1  %2").arg(count).arg(toQString(current)));
    }
}

void BusyIndicator::requestStop() noexcept {
    if (depth_ > 0) stop_ = true;
}

namespace {

// The worker's side of the progress: a step goes to the window's thread by a
// queued call when none is on its way and the last went a repaint interval
// ago; the steps between are not shown, as the window would not draw them.
class WorkerProgress : public ProgressSink {
  public:
    WorkerProgress(QObject* receiver, const std::function<void(long, std::string_view)>& shown,
                   const BusyIndicator& stop)
        : receiver_(receiver), shown_(shown), stop_(stop) {}

    void step(long count, std::string_view current) override {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        if (posted_ || now - lastPost_ < std::chrono::milliseconds(kRepaintIntervalMs)) return;
        posted_ = true;
        lastPost_ = now;
        count_ = count;
        current_.assign(current);
        QMetaObject::invokeMethod(
            receiver_,
            [this] {
                long count;
                std::string current;
                {
                    std::lock_guard lock(mutex_);
                    posted_ = false;
                    count = count_;
                    current.swap(current_);
                }
                shown_(count, current);
            },
            Qt::QueuedConnection);
    }
    bool stopRequested() const noexcept override { return stop_.stopRequested(); }
    void failed(std::string_view item, const Failure& failure) override {
        std::lock_guard lock(mutex_);
        failures_.push_back({std::string(item), failure});
    }
    // Once the run's threads have ended.
    std::vector<BusyIndicator::RunFailure> takeFailures() { return std::move(failures_); }

  private:
    QObject* receiver_;
    const std::function<void(long, std::string_view)>& shown_;
    const BusyIndicator& stop_;
    std::mutex mutex_;
    bool posted_ = false;
    std::chrono::steady_clock::time_point lastPost_;
    long count_ = 0;
    std::string current_;
    std::vector<BusyIndicator::RunFailure> failures_;
};

}  // namespace

bool BusyIndicator::runOnWorker(const std::function<void(ProgressSink&)>& work) {
    const BusyRun run(*this);
    const std::function<void(long, std::string_view)> shown = [this](long count,
                                                                     std::string_view current) {
        // The icon alternates with the count: steps between two calls are
        // not seen here one by one. The worker's side keeps to the interval.
        alternate_ = count % 2 != 0;
        show(count, current);
    };
    // Calls still queued for the receiver when it goes are dropped with it;
    // no event is processed between the end of the loop and then.
    QObject receiver;
    WorkerProgress progress(&receiver, shown, *this);
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &receiver, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    for (RunFailure& met : progress.takeFailures()) failures_.push_back(std::move(met));
    if (failure) std::rethrow_exception(failure);
    return stopRequested();
}

void BusyIndicator::end() {
    if (depth_ == 0 || --depth_ > 0) return;
    delete stopKey_.data();
    // After Esc stopped the run, an Esc pressed again while it stopped (the
    // natural reaction to a wait) must not reach the window's own Esc, which
    // closes it: its keys come back a moment later.
    for (QPointer<QShortcut>& key : heldKeys_) returningKeys_.push_back(std::move(key));
    heldKeys_.clear();
    if (stop_ && window_) {
        const unsigned generation = ++keysGeneration_;
        QTimer::singleShot(kEscapeGrace, window_.data(), [this, generation] {
            if (generation == keysGeneration_) giveKeysBack();
        });
    } else {
        giveKeysBack();
    }
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

void BusyIndicator::giveKeysBack() {
    for (const QPointer<QShortcut>& key : returningKeys_)
        if (key) key->setEnabled(true);
    returningKeys_.clear();
}

bool BusyIndicator::allowClose() {
    if (depth_ == 0) return true;
    closePending_ = true;
    requestStop();
    return false;
}

}  // namespace host
