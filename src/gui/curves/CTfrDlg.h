#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QProgressBar;

namespace tavrix {

// "Download/Upload Message": the modeless transfer progress window. Its users set the message,
// the range 0..100 and the position themselves.
class CTfrDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr size_t kMessageMax = 70;

    explicit CTfrDlg(QWidget* parent = nullptr);

    // Shows at most 70 characters; empty keeps "Transferring data. Please wait.....".
    void SetMessage(const std::string& text);
    void SetRange(int low, int high);
    void SetPos(int pos);
    // Shows the window centred over its parent and lets it paint.
    void Open();
    // The owner's close at the end of the transfer; the operator cannot close the window
    // (no close box, Esc and the window manager's close are ignored) while the lines go out.
    void Finish();

    QString MessageText() const;
    int Pos() const;

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void Paint();
    bool finishing_ = false;
    QLabel* message_;
    QProgressBar* bar_;
};

}  // namespace tavrix
