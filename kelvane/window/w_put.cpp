#include "kelvane/window/w_put.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <utility>

#include "base/numbers_and_dates.h"
#include "host/paths.h"
#include "host/qt/busy.h"
#include "host/qt/qt_text.h"
#include "host/qt/script_window.h"
#include "kelvane/import/jqwz.h"

namespace kelvane {

namespace {

const char kSourceCaption[] = "源文件夹：";
const char kTargetCaption[] = "目标文件夹：";

// A spin box puts its last valid value back when an unfinished entry (an
// emptied field) loses focus or the window loses activation, which happens
// on the way to every close (the mouse on 退出, the message box of a refused
// close). closequery must see what the user left in the field, so an invalid
// entry is kept until the user changes it.
class CountField : public QSpinBox {
  public:
    using QSpinBox::QSpinBox;

  protected:
    void focusOutEvent(QFocusEvent* event) override {
        if (entryIsValid()) return QSpinBox::focusOutEvent(event);
        QCoreApplication::sendEvent(lineEdit(), event);
        QWidget::focusOutEvent(event);
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ActivationChange && !entryIsValid())
            return QWidget::changeEvent(event);
        QSpinBox::changeEvent(event);
    }

  private:
    bool entryIsValid() const {
        QString entry = text();
        int position = 0;
        return validate(entry, position) == QValidator::Acceptable;
    }
};

}  // namespace

w_put::w_put(host::Host& host, putcs parameter, QWidget* parent)
    : QDialog(parent), host_(host), lstr_p_(std::move(parameter)) {
    setWindowTitle(title());
    setWindowIcon(host::BusyIndicator::idleIcon());
    setModal(true);

    // Created in the design's order, which is also the tab order.
    using host::named;
    cb_2_ = named(new QPushButton(QStringLiteral("截取"), this), "cb_2");
    st_2_ = named(new QLabel(this), "st_2");
    st_1_ = named(new QLabel(this), "st_1");
    cb_1_ = named(new QPushButton(QStringLiteral("退出(&Q)"), this), "cb_1");
    em_1_ = named(new CountField(this), "em_1");

    em_1_->setRange(1, 99);
    em_1_->setSingleStep(1);
    em_1_->setValue(firstFolderCount());
    // Enter in the count field previews rather than closing.
    cb_2_->setDefault(true);
    for (QLabel* label : {st_1_, st_2_}) {
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(420);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(st_1_);
    layout->addWidget(st_2_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(em_1_);
    buttons->addWidget(cb_2_);
    buttons->addStretch(1);
    buttons->addWidget(cb_1_);
    layout->addLayout(buttons);

    connect(cb_2_, &QPushButton::clicked, this, &w_put::cb_2_clicked);
    connect(cb_1_, &QPushButton::clicked, this, &QWidget::close);

    st_1_->setText(host::toQString(kSourceCaption + lstr_p_.s1));
    st_2_->setText(host::toQString(kTargetCaption + lstr_p_.s2));
}

w_put::~w_put() = default;

QString w_put::title() {
    return host::toQString("从左边第一个字符开始截取到第几个\"" +
                           std::string(host::separatorText()) + "\"作为源文件夹");
}

std::string w_put::openModal(host::Host& host, const putcs& parameter, QWidget* parent) {
    w_put dialog(host, parameter, parent);
    dialog.exec();
    return dialog.returnText();
}

long w_put::count() const {
    return static_cast<long>(base::toInteger(host::fromQString(em_1_->text())));
}

void w_put::cb_2_clicked() {
    const std::string folder = sourceFolderOf(lstr_p_.s1, count());
    if (folder.empty()) {
        host_.messageBox("提示", "截取的源文件夹错误");
        return;
    }
    st_1_->setText(host::toQString(kSourceCaption + folder));
}

bool w_put::closequery() {
    if (count() > 0) return true;
    host_.messageBox("提示", "请输入大于0的值");
    return false;
}

void w_put::done(int result) {
    if (!closequery()) return;
    returnText_ = host::fromQString(em_1_->text());
    closed_ = true;
    QDialog::done(result);
}

}  // namespace kelvane
