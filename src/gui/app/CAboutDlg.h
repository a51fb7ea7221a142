#pragma once

#include <QDialog>

namespace tavrix {

// The about box: the program's picture, name, version and maker, and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    static QString Text();
};

}  // namespace tavrix
