#pragma once

#include <QLineEdit>

namespace tavrix {

// The number field of the calibration pages: digits, '-', '.' and Backspace only (a beep for
// anything else); Up and Down step the integer value; Enter stays in the field.
class CMNumericEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CMNumericEdit(QWidget* parent = nullptr);

    // The text after Up (+1) or Down (-1), or the text unchanged outside the stepping range.
    static QString Stepped(const QString& text, int direction);

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

}  // namespace tavrix
