#pragma once

#include <QDialog>
#include <string>

#include "base/OperatorInterface.h"

class QLineEdit;

namespace tavrix {

// "Verify Calibration Password": one hidden field; "Verify" and "Cancel".
class CVerifyPW : public QDialog {
    Q_OBJECT
public:
    explicit CVerifyPW(QWidget* parent = nullptr);
    ~CVerifyPW() override;
    QLineEdit* Edit() const { return edit_; }  // 1223
    // The typed text, taken out of the field (which is cleared).
    std::string TakePassword();

private:
    QLineEdit* edit_;
};

// "Change Password ": "New:" and "Re-Type:", both hidden and at most ten characters.
class CChangePswd : public QDialog {
    Q_OBJECT
public:
    CChangePswd(OperatorInterface& op, QWidget* parent = nullptr);
    ~CChangePswd() override;
    QLineEdit* NewEdit() const { return new_; }        // 1224
    QLineEdit* RetypeEdit() const { return retype_; }  // 1225
    std::string TakeNew();
    std::string TakeRetyped();

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OperatorInterface& op_;
    QLineEdit *new_, *retype_;
    bool checking_ = false;
};

}  // namespace tavrix
