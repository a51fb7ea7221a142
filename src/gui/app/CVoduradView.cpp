#include "app/CVoduradView.h"

#include "logging/CDataLogViewer.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include "app/CAboutDlg.h"
#include "app/CHelpWindow.h"
#include "app/CShortCutButtons.h"
#include "app/CalGenRegistration.h"
#include "app/CalibrationRegistration.h"
#include "app/ConsoleRegistration.h"
#include "app/CurveRegistration.h"
#include "app/QtOperator.h"
#include "base/QtFileDialog.h"
#include "base/ScreenRect.h"
#include "base/WindowPlacement.h"
#include "charts/CStripChart.h"
#include "consoles/CSerialTerminal.h"
#include "logging/CDataLogViewer.h"
#include "logging/CDataLoggingInProcMessage.h"
#include "logging/QtLogging.h"

namespace tavrix {

namespace {
WinRect ToWinRect(const QRect& r) {
    return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}
QRect ToQRect(const WinRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

WinRect ReadRect(const SettingsStore& s, const char* section) {
    return {s.GetInt(section, settings::kWinLeft, 0), s.GetInt(section, settings::kWinTop, 0),
            s.GetInt(section, settings::kWinRight, 0), s.GetInt(section, settings::kWinBottom, 0)};
}
}  // namespace

CVoduradView::CVoduradView(SettingsStore& settings, const std::array<QString, 12>& monitorTitles,
                           const QString& helpFile, OperatorFrontEnd* injectedOperator,
                           QWidget* parent)
    : QAbstractScrollArea(parent),
      settings_(settings),
      monitorTitles_(monitorTitles),
      helpFile_(helpFile),
      folders_(settings) {
    SetFileFolders(&folders_);
    if (injectedOperator) {
        op_ = injectedOperator;
    } else {
        qtOperator_ = std::make_unique<QtOperator>(settings);
        op_ = qtOperator_.get();
    }
    // Reports from worker threads are queued here and run on the GUI thread.
    hub_ = std::make_unique<ViewHub>(settings, *op_, [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    });
    if (qtOperator_) {
        qtOperator_->SetParentWidget(this);
        qtOperator_->SetQuitEvent(&hub_->QuitEvent());
    }

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::TypeWriter);
    setFont(mono);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(LineHeight());
    horizontalScrollBar()->setSingleStep(fontMetrics().horizontalAdvance('0'));

    // Appends come from any thread; the log's generation tells when to redraw.
    logTimer_ = new QTimer(this);
    logTimer_->setInterval(50);
    connect(logTimer_, &QTimer::timeout, this, &CVoduradView::SyncLog);
    logTimer_->start();

    RegisterGuiOperations();
    CreateLogging();
    // F1 in any window of the program opens the help at that window's section.
    qApp->installEventFilter(this);
}

QTimer* CVoduradView::SampleTimer() const {
    return sampleTimer_->Timer();
}

void CVoduradView::CreateLogging() {
    loggingProgress_ = new CDataLoggingInProcMessage(this);
    loggingProgress_->hide();
    if (!qtOperator_) loggingProgress_->SetMessageTarget(op_);
    sampleTimer_ = std::make_unique<QtLogTimer>(this, [this] { logging_->OnTimer(); });
    logging_ = std::make_unique<HubLogging>(
        *hub_, LoggingFrontEnd{*loggingProgress_, *sampleTimer_, clock_,
                               [this](int i, const MonitorReading& r) {
                                   if (CStripChart* m = monitors_[static_cast<size_t>(i)])
                                       m->ApplyReading(r);
                               }});
}

void CVoduradView::OnMonitorClosed(const QString& title, const QRect& frame) {
    for (int i = 0; i < kMonitorCount; ++i) {
        if (monitorTitles_[static_cast<size_t>(i)] != title) continue;
        const WinRect r = ToWinRect(frame);
        const char* section = settings::kMonitorPos[i];
        settings_.WriteInt(section, settings::kWinLeft, r.left);
        settings_.WriteInt(section, settings::kWinTop, r.top);
        settings_.WriteInt(section, settings::kWinRight, r.right);
        settings_.WriteInt(section, settings::kWinBottom, r.bottom);
        hub_->MonitorOpen(i) = 0;
        return;
    }
}

CVoduradView::~CVoduradView() {
    logTimer_->stop();
    // Workers first (they may be waiting on this thread), then the windows they report to.
    hub_->Shutdown();
    if (bar_ && bar_->isVisible()) SaveBarPlace(bar_->frameGeometry());
    if (bar_) bar_->onPlaceChanged = nullptr;
    delete bar_;  // detaches from the hub's bar model
    bar_ = nullptr;
    for (auto*& m : monitors_) {
        delete m;
        m = nullptr;
    }
    delete terminal_;
    delete loggingProgress_;
    delete help_.data();
    hub_.reset();
    SetFileFolders(nullptr);
}

int CVoduradView::LineHeight() const {
    return fontMetrics().lineSpacing();
}

QRect CVoduradView::ScreenRect() const {
    QScreen* screen = window()->screen() ? window()->screen() : QGuiApplication::primaryScreen();
    return screen->availableGeometry();
}

void CVoduradView::RegisterGuiOperations() {
    ViewHub& hub = *hub_;
    for (int i = 0; i < kMonitorCount; ++i) {
        hub.RegisterOperation(kMonitorCommands[i], [this, i] {
            CStripChart* m = monitors_[static_cast<size_t>(i)];
            if (!m) return;
            hub_->MonitorOpen(i) = 1;
            m->show();
            m->raise();
        });
    }
    hub.RegisterOperation(ID_INTERACT, [this] {
        if (!terminal_) return;
        terminal_->show();
        terminal_->raise();
    });
    hub.RegisterOperation(ID_SHORTCUT, [this] {
        if (bar_) bar_->ShowAgain();
    });
    hub.RegisterOperation(ID_APP_ABOUT, [this] {
        CAboutDlg about(window());
        about.exec();
    });
    hub.RegisterOperation(ID_APP_EXIT, [this] { window()->close(); });
    hub.RegisterOperation(ID_HELP, [this] { ShowHelp({}); });
    hub.RegisterOperation(ID_LOG_OPEN, [this] {
        FileDialogRequest open;
        open.filter = "Data Log Files(*.csv;*.txt)|*.csv;*.txt|All Files(*.*)|*.*||";
        open.defaultExtension = "csv";
        open.options = kFileMustExist | kHideReadOnly;
        const DialogResult<std::string> file = hub_->Operator().AskOpenFile(open);
        if (!file.Ok()) return;
        QString error;
        CDataLogViewer* viewer =
            CDataLogViewer::Open(QString::fromStdString(file.value), window(), error);
        if (!viewer) {
            hub_->Operator().ShowMessage(error.toStdString(), MessageIcon::Stop);
            return;
        }
        viewer->setWindowFlag(Qt::Window);
        viewer->show();
        viewer->raise();
    });
    hub.RegisterOperation(ID_VIEW_STATUS_BAR, [this] { emit statusBarToggleRequested(); });
    RegisterCalGenCommands(hub);
    RegisterCurveCommands(hub);
    RegisterConsoleCommands(hub);
    RegisterCalibrationCommand(hub);
}

void CVoduradView::SaveBarPlace(const QRect& r) {
    const WinRect w = ToWinRect(r);
    settings_.WriteInt(settings::kShortcutBarPos, settings::kWinLeft, w.left);
    settings_.WriteInt(settings::kShortcutBarPos, settings::kWinTop, w.top);
    settings_.WriteInt(settings::kShortcutBarPos, settings::kWinRight, w.right);
    settings_.WriteInt(settings::kShortcutBarPos, settings::kWinBottom, w.bottom);
}

void CVoduradView::OnInitialUpdate() {
    if (initialised_) return;
    initialised_ = true;
    ViewHub& hub = *hub_;
    hub.Initialise();
    CreateFloatingWindows();
}

void CVoduradView::CreateFloatingWindows() {
    ViewHub& hub = *hub_;
    const WinRect screen = ToWinRect(ScreenRect());

    if (hub.MonitorThreadRunning()) {
        std::array<WinRect, 12> saved;
        for (int i = 0; i < kMonitorCount; ++i) {
            auto* m = new CStripChart(kMonitorStripLength, this);
            m->setWindowTitle(monitorTitles_[static_cast<size_t>(i)]);
            // Closing a monitor only hides it; it is no longer open for the monitor thread.
            connect(m, &QDialog::finished, this, [this, i] { hub_->MonitorOpen(i) = 0; });
            connect(m, &CStripChart::placeHandedBack, this, &CVoduradView::OnMonitorClosed);
            monitors_[static_cast<size_t>(i)] = m;
            saved[static_cast<size_t>(i)] = ReadRect(settings_, settings::kMonitorPos[i]);
        }
        const QMargins m = FrameMarginsOf(*monitors_[0]);
        const QSize size = monitors_[0]->size().grownBy(m);
        const auto places = PlaceMonitors(saved, screen, size.width(), size.height());
        for (int i = 0; i < kMonitorCount; ++i)
            PlaceAtScreenRect(*monitors_[static_cast<size_t>(i)],
                              ToQRect(places[static_cast<size_t>(i)]));
    }

    terminal_ = new CSerialTerminal(settings_, this);
    terminal_->SetDestination(
        [this](int message, intptr_t w, intptr_t l) { return hub_->OnMessage(message, w, l); });
    const WinRect termSaved = ReadRect(settings_, settings::kTerminalPos);
    const QSize termSize = terminal_->size().grownBy(FrameMarginsOf(*terminal_));
    PlaceAtScreenRect(*terminal_, ToQRect(termSaved.Empty() ? CentreOn(screen, termSize.width(),
                                                                       termSize.height())
                                                            : termSaved));

    // A tool window of the main window, so that it floats above it.
    bar_ = new CShortCutButtons(hub.Bar(), *op_, window());
    bar_->SetTarget(&hub.Messenger());
    bar_->adjustSize();
    bar_->onPlaceChanged = [this](const QRect& r) { SaveBarPlace(r); };
    // The view's rectangle on the screen: lay the frame out first when it is not shown yet.
    if (QWidget* w = window(); w->layout()) w->layout()->activate();
    const QRect viewRect(mapToGlobal(QPoint(0, 0)), size());
    const QSize barSize = bar_->sizeHint();
    const WinRect barRect =
        PlaceShortcutBar(ToWinRect(viewRect), barSize.width(), barSize.height(), screen);
    const WinRect barSaved = ReadRect(settings_, settings::kShortcutBarPos);
    PlaceAtScreenRect(*bar_, ToQRect(barSaved.Empty() ? barRect : barSaved));
    // The bar opens with the main window, above it: shown before it, a window manager would
    // stack the main window over its own tool window.
    if (window()->isVisible())
        bar_->ShowAgain();
    else
        window()->installEventFilter(this);

    const WinRect logRect = CentreOn(screen, loggingProgress_->width(), loggingProgress_->height());
    loggingProgress_->setGeometry(ToQRect(logRect));
    loggingProgress_->hide();
}

void CVoduradView::OnCommand(int id) {
    if (!initialised_) OnInitialUpdate();
    hub_->Run(id);
}

void CVoduradView::SyncLog() {
    const uint64_t gen = hub_->Log().Generation();
    if (gen == drawnGeneration_) return;
    drawnGeneration_ = gen;
    lines_ = hub_->Log().Lines();
    UpdateScrollBars();
    // The newest line comes into view.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
}

void CVoduradView::UpdateScrollBars() {
    const int lh = LineHeight();
    const int docHeight = static_cast<int>(lines_.size()) * lh;
    const int docWidth = kLeftMargin + fontMetrics().horizontalAdvance('0') * ViewLog::kColumns;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, docHeight - viewport()->height()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, docWidth - viewport()->width()));
}

void CVoduradView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.setFont(font());
    p.setPen(palette().color(QPalette::Text));
    const int lh = LineHeight();
    const int ascent = fontMetrics().ascent();
    const int top = verticalScrollBar()->value();
    const int x = kLeftMargin - horizontalScrollBar()->value();
    const int first = top / lh;
    const int last =
        std::min<int>(static_cast<int>(lines_.size()) - 1, (top + viewport()->height()) / lh);
    for (int i = first; i <= last; ++i) {
        if (i >= selFirst_ && i <= selLast_) {
            p.fillRect(QRect(0, i * lh - top, viewport()->width(), lh),
                       palette().color(QPalette::Highlight));
            p.setPen(palette().color(QPalette::HighlightedText));
        } else {
            p.setPen(palette().color(QPalette::Text));
        }
        QString text = QString::fromLatin1(lines_[static_cast<size_t>(i)]);
        for (QChar& c : text)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char(' ');
        p.drawText(x, i * lh - top + ascent, text);
    }
}

int CVoduradView::LineAt(int y) const {
    const int line = (y + verticalScrollBar()->value()) / LineHeight();
    return std::clamp(line, 0, std::max(0, static_cast<int>(lines_.size()) - 1));
}

void CVoduradView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
    selAnchor_ = selFirst_ = selLast_ = LineAt(e->position().toPoint().y());
    viewport()->update();
}

void CVoduradView::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(e);
    const int line = LineAt(e->position().toPoint().y());
    selFirst_ = std::min(selAnchor_, line);
    selLast_ = std::max(selAnchor_, line);
    viewport()->update();
}

void CVoduradView::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Copy)) return CopySelection();
    if (e->matches(QKeySequence::SelectAll)) return SelectAllLines();
    QAbstractScrollArea::keyPressEvent(e);
}

QString CVoduradView::SelectedText() const {
    QStringList out;
    for (int i = std::max(0, selFirst_); i <= selLast_ && i < static_cast<int>(lines_.size()); ++i)
        out << QString::fromLatin1(lines_[static_cast<size_t>(i)]);
    return out.join('\n');
}

void CVoduradView::CopySelection() {
    const QString text = SelectedText();
    if (selLast_ >= selFirst_) QGuiApplication::clipboard()->setText(text);
}

void CVoduradView::SelectAllLines() {
    SyncLog();
    selAnchor_ = selFirst_ = 0;
    selLast_ = static_cast<int>(lines_.size()) - 1;
    viewport()->update();
}

void CVoduradView::SaveLogAs() {
    FileDialogRequest request{"Text Files (*.txt)|*.txt||", "txt", kHideReadOnly | kOverwritePrompt,
                              "MessageLog.txt"};
    const auto file = op_->AskSaveFile(request);
    if (!file.Ok()) return;
    if (!ViewLog::SaveText(file.value, hub_->Log().Lines()))
        op_->ShowMessage("Unable to write " + file.value, MessageIcon::Stop);
}

void CVoduradView::ClearLog() {
    hub_->Log().Clear();
    selFirst_ = 0;
    selLast_ = -1;
    SyncLog();
}

QMenu* CVoduradView::BuildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* copy = menu->addAction("Copy", this, &CVoduradView::CopySelection);
    copy->setEnabled(selLast_ >= selFirst_);
    menu->addAction("Select All", this, &CVoduradView::SelectAllLines);
    menu->addSeparator();
    menu->addAction("Save As...", this, &CVoduradView::SaveLogAs);
    menu->addAction("Clear", this, &CVoduradView::ClearLog);
    return menu;
}

void CVoduradView::contextMenuEvent(QContextMenuEvent* e) {
    std::unique_ptr<QMenu> menu(BuildContextMenu(this));
    menu->exec(e->globalPos());
}

void CVoduradView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    const bool atBottom = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    UpdateScrollBars();
    if (atBottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CVoduradView::ShowHelp(const QString& anchor) {
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* owner = modal ? modal : this;
    if (!help_ || help_->parentWidget() != owner) help_ = new CHelpWindow(helpFile_, owner);
    help_->ShowAnchor(anchor);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

bool CVoduradView::HandleHelpKey(QObject* watched, QEvent* e) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || qobject_cast<CHelpWindow*>(w->window())) return false;
    // Only the windows of this program's main window (a test may hold several).
    for (QWidget* p = w; p; p = p->parentWidget()) {
        if (p == window()) break;
        if (!p->parentWidget() && qobject_cast<QMainWindow*>(p) &&
            !qobject_cast<CDataLogViewer*>(p))
            return false;
    }
    // Taken as a key press rather than the menu's shortcut, so that it reaches the window in
    // front, dialogs included.
    if (e->type() == QEvent::ShortcutOverride) {
        e->accept();
        return true;
    }
    ShowHelp(CHelpWindow::AnchorFor(w));
    return true;
}

bool CVoduradView::eventFilter(QObject* watched, QEvent* e) {
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride) &&
        HandleHelpKey(watched, e))
        return true;
    if (watched == window() && e->type() == QEvent::Show && bar_) {
        window()->removeEventFilter(this);
        // After the main window is mapped, so that the bar is stacked above it.
        QTimer::singleShot(0, bar_, [bar = bar_] { bar->ShowAgain(); });
    }
    return QAbstractScrollArea::eventFilter(watched, e);
}

void CVoduradView::showEvent(QShowEvent* e) {
    QAbstractScrollArea::showEvent(e);
    if (!initialised_) OnInitialUpdate();
}

}  // namespace tavrix
