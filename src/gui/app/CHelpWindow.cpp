#include "app/CHelpWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "app/GuiResources.h"

namespace tavrix {

namespace {

constexpr const char* kMainWindowAnchor = "desktop-the-main-window-and-the-short-cuts-bar";

// Window classes and the section of the help page that describes them. The anchors are those
// the help page gives its headings ("page-heading") or the menu commands ("cmdNNNNN").
const std::pair<const char*, const char*> kWindowAnchors[] = {
    {"tavrix::CMainFrame", kMainWindowAnchor},
    {"tavrix::CShortCutButtons", kMainWindowAnchor},
    {"tavrix::CAboutDlg", "cmd57664"},
    {"tavrix::CPortSelect", "cmd32798"},
    {"tavrix::CCommSetUp", "cmd32773"},
    {"tavrix::CGPIBAddrEditDlg", "connecting-gpib"},
    {"tavrix::CIPEdit", "connecting-lan"},
    {"tavrix::CShareDlg", "cmd32840"},
    {"tavrix::CCurveHeaderEdit", "curves-in-the-desktop-program"},
    {"tavrix::CCalTblNumReq", "curves-in-the-desktop-program"},
    {"tavrix::CPIDTblNumReq", "curves-in-the-desktop-program"},
    {"tavrix::CTfrDlg", "curves-in-the-desktop-program"},
    {"tavrix::CGraph", "curves-in-the-desktop-program"},
    {"tavrix::CSelectCalGenType", "calgen"},
    {"tavrix::CReferencePointDialog", "calgen"},
    {"tavrix::CDataLogSetup", "logging-starting-a-run-in-the-desktop-program"},
    {"tavrix::CDataLoggingInProcMessage", "logging-starting-a-run-in-the-desktop-program"},
    {"tavrix::CStripChart", "logging-monitors"},
    {"tavrix::CDataLogViewer", "logging-the-log-viewer"},
    {"tavrix::CSerialTerminal", "terminal-the-serial-terminal"},
    {"tavrix::CVerifyPW", "calibration-in-the-desktop-program"},
    {"tavrix::CChangePswd", "calibration-in-the-desktop-program"},
    {"tavrix::CCapturingDataDiag", "calibration-in-the-desktop-program"},
    {"tavrix::CCalibDlg", "calibration-in-the-desktop-program"},
};

}  // namespace

CHelpWindow::CHelpWindow(const QString& helpFile, QWidget* parent)
    : QDialog(parent, Qt::Window), helpFile_(helpFile) {
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

void CHelpWindow::ShowAnchor(const QString& anchor) {
    QUrl url(helpFile_);
    if (!anchor.isEmpty()) url.setFragment(anchor);
    browser_->setSource(url);
    if (anchor.isEmpty()) browser_->scrollToAnchor("index");
}

QString CHelpWindow::AnchorFor(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        // The class itself or one it derives from (the reference-point dialogs).
        for (const QMetaObject* m = w->metaObject(); m; m = m->superClass())
            for (const auto& [cls, anchor] : kWindowAnchors)
                if (qstrcmp(m->className(), cls) == 0) return anchor;
    }
    return kMainWindowAnchor;
}

QStringList CHelpWindow::KnownAnchors() {
    QStringList all;
    for (const auto& entry : kWindowAnchors) all << entry.second;
    return all;
}

}  // namespace tavrix
