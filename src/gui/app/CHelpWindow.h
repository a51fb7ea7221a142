#pragma once

#include <QDialog>

class QTextBrowser;

namespace tavrix {

// The help page in a browser window of its own.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(const QString& helpFile, QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace tavrix
