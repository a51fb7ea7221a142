#pragma once

#include <QDialog>
#include <QPixmap>
#include <array>
#include <functional>

#include "base/ShortcutBar.h"

class QLabel;
class QPushButton;

namespace tavrix {

class OperatorInterface;
class ViewMessenger;

// "Short Cuts": the floating bar with one-click buttons and the link's state. It shows the
// hub's ShortcutBarModel and posts its requests to the view; it does no work itself.
class CShortCutButtons : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kLedImage = ":/tavrix/leds.png";
    static constexpr int kLedSize = 16;

    CShortCutButtons(ShortcutBarModel& model, OperatorInterface& op, QWidget* parent = nullptr,
                     const QString& ledImage = kLedImage);
    ~CShortCutButtons() override;

    // The view's messenger; nothing is posted while it is unset.
    void SetTarget(ViewMessenger* target) { target_ = target; }
    // Replaces what "CalGen" does (the curve-generation chooser) when set.
    std::function<void()> onCalGen;

    // Controls by their resource ids (1173 .. 1192), for the view and the tests.
    QPushButton* Button(int controlId) const;
    QString TransportText() const;
    QString StatusText() const;
    QString ModelText() const;
    QString VersionText() const;
    int LedIndex() const { return ledIndex_; }
    bool HasLed() const { return !leds_.isNull(); }

    // Redraws from the model (GUI thread).
    void Refresh();

    // Shown, not minimised, on the screen: what the "&Shortcut" rule reads.
    bool Showing() const { return isVisible() && !isMinimized(); }
    // "&Shortcut": back on the screen, above the main window.
    void ShowAgain();

    // Called with the bar's screen rectangle whenever it is closed or hidden, so its place
    // is kept across runs.
    std::function<void(const QRect&)> onPlaceChanged;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    class Led;
    void Post(int message);

    ShortcutBarModel& model_;
    ViewMessenger* target_ = nullptr;
    QPixmap leds_;
    int ledIndex_ = 1;
    QPushButton* curve_;
    QPushButton* pid_;
    QPushButton* interact_;
    QPushButton* calgen_;
    QPushButton* logging_;
    QPushButton* upload_;
    QPushButton* connect_;
    QLabel* transport_;
    QLabel* statusLabel_;
    QLabel* status_;
    QLabel* model_text_;
    QLabel* version_;
    Led* led_;
};

}  // namespace tavrix
