#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "app/CHelpWindow.h"
#include "app/HubLogging.h"
#include "app/ViewHub.h"
#include "base/FileFolders.h"
#include "logging/LogClock.h"

class QMenu;
class QTimer;

namespace tavrix {

class CDataLoggingInProcMessage;
class CSerialTerminal;
class CShortCutButtons;
class CStripChart;
class QtLogTimer;
class QtOperator;

// The main window's client area and the hub's window: draws the message log, owns the floating
// windows, routes menu commands to the hub and lets worker threads' reports run on the GUI
// thread.
class CVoduradView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kMonitorStripLength = 100;
    static constexpr int kLeftMargin = 4;

    // `injectedOperator` replaces the Qt dialogs (tests); it must outlive the view.
    CVoduradView(SettingsStore& settings, const std::array<QString, 12>& monitorTitles,
                 const QString& helpFile, OperatorFrontEnd* injectedOperator = nullptr,
                 QWidget* parent = nullptr);
    ~CVoduradView() override;

    ViewHub& Hub() { return *hub_; }
    OperatorFrontEnd& Operator() { return *op_; }
    // Null when an operator was injected.
    QtOperator* GuiOperator() { return qtOperator_.get(); }

    // The view's first update: hub start-up, floating windows. Runs once; also runs on the
    // first show when nobody called it before.
    void OnInitialUpdate();
    bool Initialised() const { return initialised_; }

    // A menu command: run when its update rule allows it.
    void OnCommand(int id);

    CShortCutButtons* ShortcutBar() const { return bar_; }
    CStripChart* Monitor(int index) const { return monitors_[static_cast<size_t>(index)]; }
    CSerialTerminal* Terminal() const { return terminal_; }
    CDataLoggingInProcMessage* LoggingProgress() const { return loggingProgress_; }
    // The help window shown last (nullptr before one was shown, or once its dialog closed).
    CHelpWindow* HelpWindow() const { return help_; }
    // Opens the help page at `anchor` (its top when empty). While a modal dialog is up the
    // help window opens above it, as a window of that dialog, so that it can be used.
    void ShowHelp(const QString& anchor);
    HubLogging& Logging() { return *logging_; }
    // Timer 100, the pace of data logging.
    QTimer* SampleTimer() const;

    int LineHeight() const;
    // Draws the log now when it changed (the timer does this every 50 ms).
    void SyncLog();

    // The message log's context menu: "Copy" (the selected lines), "Select All", "Save As..."
    // (the whole log as a text file), "Clear". The caller owns the menu.
    QMenu* BuildContextMenu(QWidget* parent);
    // The selected lines as text, one line each ("" when nothing is selected).
    QString SelectedText() const;
    void CopySelection();
    void SelectAllLines();
    void SaveLogAs();
    void ClearLog();

signals:
    void statusBarToggleRequested();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void RegisterGuiOperations();
    // F1 in a window of this program: the help at that window's section.
    bool HandleHelpKey(QObject* watched, QEvent* e);
    void CreateFloatingWindows();
    void UpdateScrollBars();
    void SaveBarPlace(const QRect& r);
    QRect ScreenRect() const;

    SettingsStore& settings_;
    std::array<QString, 12> monitorTitles_;
    QString helpFile_;
    // Declared before the hub: the hub uses the operator until it is gone.
    std::unique_ptr<QtOperator> qtOperator_;
    OperatorFrontEnd* op_;
    std::unique_ptr<ViewHub> hub_;

    std::array<CStripChart*, 12> monitors_{};
    CSerialTerminal* terminal_ = nullptr;
    CShortCutButtons* bar_ = nullptr;
    CDataLoggingInProcMessage* loggingProgress_ = nullptr;
    QPointer<CHelpWindow> help_;

    void CreateLogging();
    void OnMonitorClosed(const QString& title, const QRect& frame);

    std::unique_ptr<QtLogTimer> sampleTimer_;
    SystemLogClock clock_;
    std::unique_ptr<HubLogging> logging_;

    QTimer* logTimer_;
    uint64_t drawnGeneration_ = UINT64_MAX;
    std::vector<std::string> lines_;
    // Selected lines (indices into lines_), none when first > last.
    int selAnchor_ = 0, selFirst_ = 0, selLast_ = -1;
    int LineAt(int y) const;
    FileFolders folders_;
    bool initialised_ = false;
};

}  // namespace tavrix
