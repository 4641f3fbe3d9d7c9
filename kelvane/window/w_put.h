// The modal dialog that asks which separator of a full path ends the source
// folder. The copy opens it with the first name of list 1 and the target
// folder, and turns the text it hands back into the count for jqwz.
#pragma once

#include <QDialog>
#include <string>

#include "host/host.h"

class QLabel;
class QPushButton;
class QSpinBox;

namespace kelvane {

// The parameter of w_put.
struct putcs {
    std::string s1;  // the full path to be cut
    std::string s2;  // the target folder; shown only
};

class w_put : public QDialog {
    Q_OBJECT

  public:
    // Messages go through `host`. Build and show() (or open()) it to drive it
    // without blocking; openModal() is the way the copy uses it.
    w_put(host::Host& host, putcs parameter, QWidget* parent = nullptr);
    ~w_put() override;

    // Opens the dialog modally and returns, once the user has closed it, the
    // text of its count field at that moment ("2", "13", ...; never a text
    // whose integer is below 1, as closing is refused then).
    static std::string openModal(host::Host& host, const putcs& parameter,
                                 QWidget* parent = nullptr);

    // "从左边第一个字符开始截取到第几个"\"作为源文件夹" with the platform's separator.
    static QString title();

    const putcs& lstr_p() const noexcept { return lstr_p_; }
    // The text handed back when the dialog closed; "" while it is open.
    const std::string& returnText() const noexcept { return returnText_; }
    // Whether the dialog closed (exit button, Esc or the close box).
    bool wasClosed() const noexcept { return closed_; }

    // The preview: shows the source folder the count gives, or says it is wrong.
    void cb_2_clicked();
    // True when the dialog may close; otherwise tells the user why not.
    bool closequery();

    QSpinBox* em_1() const noexcept { return em_1_; }
    QLabel* st_1() const noexcept { return st_1_; }
    QLabel* st_2() const noexcept { return st_2_; }
    QPushButton* cb_1() const noexcept { return cb_1_; }
    QPushButton* cb_2() const noexcept { return cb_2_; }

  protected:
    // Every way out (exit button, Esc, close box) ends here.
    void done(int result) override;

  private:
    long count() const;

    host::Host& host_;
    putcs lstr_p_;
    std::string returnText_;
    bool closed_ = false;
    QPushButton* cb_2_ = nullptr;
    QLabel* st_2_ = nullptr;
    QLabel* st_1_ = nullptr;
    QPushButton* cb_1_ = nullptr;
    QSpinBox* em_1_ = nullptr;
};

}  // namespace kelvane
