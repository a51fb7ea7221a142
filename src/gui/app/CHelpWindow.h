#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace tavrix {

// The help page in a browser window of its own.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(const QString& helpFile, QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }
    // Shows the page at `anchor` (its top when empty).
    void ShowAnchor(const QString& anchor);

    // The help page's anchor for the window `w` belongs to: the section of the dialog, monitor,
    // terminal, viewer... found first from `w` up its parents; the main window's section when
    // none is known.
    static QString AnchorFor(const QWidget* w);
    // Every anchor AnchorFor can give, for the test that holds them to the page.
    static QStringList KnownAnchors();

private:
    QString helpFile_;
    QTextBrowser* browser_;
};

}  // namespace tavrix
