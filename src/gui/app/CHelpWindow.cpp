#include "app/CHelpWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/GuiResources.h"

namespace tavrix {

CHelpWindow::CHelpWindow(const QString& helpFile, QWidget* parent) : QDialog(parent, Qt::Window) {
    InitGuiResources();
    setWindowTitle("Tavrix Utility Software Help");
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    browser_->setSource(QUrl(helpFile));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(browser_);
    resize(720, 600);
}

}  // namespace tavrix
