#pragma once

#include <QDialog>
#include <QLineEdit>
#include <cstdint>
#include <functional>
#include <string>

#include "base/SettingsStore.h"
#include "consoles/Terminal.h"

class QPushButton;

namespace tavrix {

// Where the terminal's commands go: the view's message handler, called on the GUI thread.
using TerminalDestination = std::function<intptr_t(int message, intptr_t wParam, intptr_t lParam)>;

// The terminal's command field: Enter sends, the text stays for sending again; Up and Down
// recall earlier lines. It takes at most 47 characters.
class CCommandEdit : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kControlId = 1043;

    CCommandEdit(TerminalModel& model, QWidget* parent = nullptr);
    void SetDestination(TerminalDestination destination) { destination_ = std::move(destination); }
    // The send operation: keep the line and hand its address to the view with
    // WM_TERMINAL_COMMAND, synchronously.
    void Send();
    const std::string& CommandText() const { return model_.CommandText(); }

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    TerminalModel& model_;
    TerminalDestination destination_;
};

// The "Serial Terminal" window. Created hidden with the view; closing only hides it. The close
// box stores its place in "S_TERM_POS"; Quit hides it without storing.
class CSerialTerminal : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSendId = 1044;

    explicit CSerialTerminal(SettingsStore& settings, QWidget* parent = nullptr);

    void SetDestination(TerminalDestination destination);
    CCommandEdit* CommandField() const { return edit_; }
    QPushButton* SendButton() const { return send_; }
    QPushButton* QuitButton() const { return quit_; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    SettingsStore& settings_;
    TerminalModel model_;
    CCommandEdit* edit_;
    QPushButton* send_;
    QPushButton* quit_;
};

}  // namespace tavrix
