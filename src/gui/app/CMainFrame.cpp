#include "app/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "app/CVoduradView.h"
#include "app/Commands.h"
#include "app/GuiResources.h"
#include "base/SettingsStore.h"
#include "base/WindowPlacement.h"

namespace tavrix {

namespace {
constexpr const char* kIdle = "Ready";
}

CMainFrame::CMainFrame(SettingsStore& settings, const std::array<QString, 12>& monitorTitles,
                       const QString& helpFile, OperatorFrontEnd* injectedOperator)
    : settings_(settings) {
    InitGuiResources();
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(":/tavrix/tavrix.png"));

    // One pane; an empty prompt shows the idle text.
    QStatusBar* bar = statusBar();
    bar->setObjectName("statusBar59393");
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& text) {
        if (text.isEmpty()) bar->showMessage(kIdle);
    });
    bar->showMessage(kIdle);
    shareStatus_ = new QLabel(this);
    shareStatus_->setObjectName("shareStatus");
    shareStatus_->hide();
    bar->addPermanentWidget(shareStatus_);

    view_ = new CVoduradView(settings, monitorTitles, helpFile, injectedOperator, this);
    setCentralWidget(view_);
    connect(view_, &CVoduradView::statusBarToggleRequested, this, [this] {
        statusBar()->setVisible(!statusBar()->isVisible());
        if (QAction* a = ActionFor(ID_VIEW_STATUS_BAR)) a->setChecked(statusBar()->isVisible());
    });

    BuildMenu();
    Place();

    // Update rules depend on state that changes behind the menu's back (a connect, a worker).
    updateTimer_ = new QTimer(this);
    updateTimer_->setInterval(250);
    connect(updateTimer_, &QTimer::timeout, this, &CMainFrame::RefreshCommandStates);
    // The share's clients come and go on its own thread: the pane follows them.
    connect(updateTimer_, &QTimer::timeout, this, &CMainFrame::RefreshShareStatus);
    updateTimer_->start();
}

CMainFrame::~CMainFrame() {
    updateTimer_->stop();
}

void CMainFrame::BuildMenu() {
    std::function<void(QMenu*, const std::vector<MenuEntry>&)> fill =
        [&](QMenu* menu, const std::vector<MenuEntry>& entries) {
            for (const MenuEntry& e : entries) {
                if (e.separator) {
                    menu->addSeparator();
                } else if (e.id == 0) {
                    QMenu* sub = menu->addMenu(QString::fromStdString(e.text));
                    connect(sub, &QMenu::aboutToShow, this, &CMainFrame::RefreshCommandStates);
                    fill(sub, e.children);
                } else {
                    QAction* a = menu->addAction(QString::fromStdString(e.text));
                    a->setData(e.id);
                    a->setStatusTip(QString::fromStdString(CommandPrompt(e.id)));
                    if (!e.shortcut.empty())
                        a->setShortcut(QKeySequence(QString::fromStdString(e.shortcut)));
                    if (e.id == ID_VIEW_STATUS_BAR) {
                        a->setCheckable(true);
                        a->setChecked(true);
                    }
                    if (e.checkKey) {
                        a->setCheckable(true);
                        settingChecks_[a] = {e.checkSection, e.checkKey};
                    }
                    const int id = e.id;
                    connect(a, &QAction::triggered, this, [this, id, a] {
                        // The status bar item's check follows the bar, not the click.
                        if (id == ID_VIEW_STATUS_BAR) a->setChecked(statusBar()->isVisible());
                        view_->OnCommand(id);
                        // What the command changed shows at once (its accelerator too).
                        RefreshCommandStates();
                        RefreshShareStatus();
                    });
                    actions_[id] = a;
                }
            }
        };
    for (const MenuEntry& top : MenuBar()) {
        QMenu* menu = menuBar()->addMenu(QString::fromStdString(top.text));
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshCommandStates);
        fill(menu, top.children);
    }
}

QAction* CMainFrame::ActionFor(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::RefreshCommandStates() {
    if (!view_->Initialised()) return;
    for (auto& [id, action] : actions_) action->setEnabled(view_->Hub().IsEnabled(id));
    if (QAction* a = ActionFor(ID_VIEW_STATUS_BAR)) a->setChecked(statusBar()->isVisible());
    for (auto& [action, key] : settingChecks_)
        action->setChecked(view_->Hub().Settings().GetString(key.first, key.second, "0") == "1");
}

void CMainFrame::RefreshShareStatus() {
    if (!view_->Initialised()) return;
    const QString text = QString::fromStdString(view_->Hub().Share().StatusText());
    if (text != shareStatus_->text()) shareStatus_->setText(text);
    shareStatus_->setVisible(!text.isEmpty());
}

void CMainFrame::Place() {
    const WinRect saved{settings_.GetInt(settings::kMainViewPos, settings::kWinLeft, 0),
                        settings_.GetInt(settings::kMainViewPos, settings::kWinTop, 0),
                        settings_.GetInt(settings::kMainViewPos, settings::kWinRight, 0),
                        settings_.GetInt(settings::kMainViewPos, settings::kWinBottom, 0)};
    if (saved.Empty() || saved.Width() <= 0 || saved.Height() <= 0) {
        const QRect s = QGuiApplication::primaryScreen()->availableGeometry();
        const WinRect c = CentreOn({s.left(), s.top(), s.right() + 1, s.bottom() + 1},
                                   kDefaultWidth, kDefaultHeight);
        setGeometry(c.left, c.top, c.Width(), c.Height());
    } else {
        setGeometry(saved.left, saved.top, saved.Width(), saved.Height());
    }
}

void CMainFrame::CloseWithoutAsking() {
    asked_ = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    // Closing ends a logging run only when the operator says so.
    if (!asked_ && view_->Initialised() && !view_->Hub().ConfirmQuit()) {
        e->ignore();
        return;
    }
    asked_ = true;
    if (closing_) {  // a second close while the program ends
        e->accept();
        return;
    }
    closing_ = true;
    // Before the monitor windows close with the program (which clears their open flags).
    if (view_->Initialised()) view_->Hub().RecordOpenMonitors();
    if (!isMinimized() && !isMaximized() && !isFullScreen()) {
        const QRect r = geometry();
        settings_.WriteInt(settings::kMainViewPos, settings::kWinLeft, r.left());
        settings_.WriteInt(settings::kMainViewPos, settings::kWinTop, r.top());
        settings_.WriteInt(settings::kMainViewPos, settings::kWinRight, r.right() + 1);
        settings_.WriteInt(settings::kMainViewPos, settings::kWinBottom, r.bottom() + 1);
    }
    e->accept();
    emit closed();
}

}  // namespace tavrix
