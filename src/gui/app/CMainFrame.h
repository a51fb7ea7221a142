#pragma once

#include <QMainWindow>
#include <array>
#include <map>

class QAction;
class QMenu;
class QLabel;
class QTimer;

namespace tavrix {

class CVoduradView;
class OperatorFrontEnd;
class SettingsStore;

// The top-level window: the menu built from the command table, one status-bar pane, the view.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tavrix Utility Software";
    static constexpr int kDefaultWidth = 720;
    static constexpr int kDefaultHeight = 520;

    CMainFrame(SettingsStore& settings, const std::array<QString, 12>& monitorTitles,
               const QString& helpFile, OperatorFrontEnd* injectedOperator = nullptr);
    ~CMainFrame() override;

    CVoduradView* View() const { return view_; }
    // The menu item of a command (null when the menu has none).
    QAction* ActionFor(int id) const;
    // Enables each menu item by its command's update rule.
    void RefreshCommandStates();
    // Ends the program without the question about a running logging run (termination
    // signals); the run still ends cleanly with the view.
    void CloseWithoutAsking();
    // The status bar's sharing pane ("Shared on ADDR:PORT, N client(s)"), hidden when the
    // instrument is not shared.
    QLabel* ShareStatus() const { return shareStatus_; }
    void RefreshShareStatus();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildMenu();
    void Place();

    SettingsStore& settings_;
    CVoduradView* view_;
    std::map<int, QAction*> actions_;
    // Checkable items bound to a setting: section and key.
    std::map<QAction*, std::pair<const char*, const char*>> settingChecks_;
    QTimer* updateTimer_;
    QLabel* shareStatus_;
    bool asked_ = false;
    bool closing_ = false;
};

}  // namespace tavrix
