#include "app/QtOperator.h"

#include <QCoreApplication>

#include "base/GuiThread.h"
#include "base/MessageBoxes.h"
#include "curves/CTfrDlg.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CShareDlg.h"
#include "link/CIPEdit.h"
#include "link/CPortSelect.h"

namespace tavrix {

namespace {

// CTfrDlg behind the operator's progress interface; every call runs on the GUI thread.
class QtProgress : public ProgressWindow {
public:
    QtProgress(QWidget* parent, const ManualResetEvent* quit) : quit_(quit) {
        RunOnGuiThread(
            [&] {
                dlg_ = new CTfrDlg(parent);
                dlg_->setAttribute(Qt::WA_DeleteOnClose);
                dlg_->Open();
            },
            quit_);
    }
    ~QtProgress() override { Close(); }
    void SetMessage(const std::string& text) override {
        Run([&](CTfrDlg& d) { d.SetMessage(text); });
    }
    void SetRange(int low, int high) override {
        Run([&](CTfrDlg& d) { d.SetRange(low, high); });
    }
    void SetPos(int pos) override {
        Run([&](CTfrDlg& d) { d.SetPos(pos); });
    }
    void Close() override {
        Run([](CTfrDlg& d) { d.Finish(); });
        dlg_.clear();
    }

private:
    template <typename F>
    void Run(F f) {
        if (dlg_.isNull()) return;
        RunOnGuiThread(
            [&] {
                if (!dlg_.isNull()) f(*dlg_);
            },
            quit_);
    }
    QPointer<CTfrDlg> dlg_;
    const ManualResetEvent* quit_;
};

}  // namespace

QtOperator::QtOperator(const SettingsStore& settings) : settings_(settings) {}

void QtOperator::ShowMessage(const std::string& text, MessageIcon icon) {
    RunOnGuiThread([&] { ShowMessageBox(Parent(), QString::fromStdString(text), icon); }, quit_);
}

bool QtOperator::AskYesNo(const std::string& text, MessageIcon icon) {
    bool yes = false;
    RunOnGuiThread(
        [&] {
            yes = ShowMessageBox(Parent(), QString::fromStdString(text), icon,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        },
        quit_);
    return yes;
}

std::unique_ptr<ProgressWindow> QtOperator::OpenProgress() {
    return std::make_unique<QtProgress>(Parent(), quit_);
}

void QtOperator::PumpMessages() {
    if (OnGuiThread()) QCoreApplication::processEvents();
}

DialogResult<SerialSetupChoice> QtOperator::AskSerialSetup(const SerialSetupChoice& preset) {
    auto r = DialogResult<SerialSetupChoice>::Cancelled();
    RunOnGuiThread(
        [&] {
            CCommSetUp dlg(settings_, preset, deviceOverride_, Parent());
            if (dlg.exec() == QDialog::Accepted)
                r = DialogResult<SerialSetupChoice>::Accept(dlg.Choice());
        },
        quit_);
    return r;
}

DialogResult<int> QtOperator::AskPortType(int current) {
    auto r = DialogResult<int>::Cancelled();
    RunOnGuiThread(
        [&] {
            CPortSelect dlg(current, Parent());
            if (dlg.exec() == QDialog::Accepted) r = DialogResult<int>::Accept(dlg.PortType());
        },
        quit_);
    return r;
}

DialogResult<int> QtOperator::AskGpibAddress(int current) {
    auto r = DialogResult<int>::Cancelled();
    RunOnGuiThread(
        [&] {
            CGPIBAddrEditDlg dlg(current, Parent());
            if (dlg.exec() == QDialog::Accepted && dlg.Address() >= 0)
                r = DialogResult<int>::Accept(dlg.Address());
        },
        quit_);
    return r;
}

DialogResult<ShareSettings> QtOperator::AskShareSettings(const ShareSettings& preset) {
    auto r = DialogResult<ShareSettings>{DialogOutcome::Cancel, preset};
    RunOnGuiThread(
        [&] {
            CShareDlg dlg(preset, Parent());
            if (dlg.exec() == QDialog::Accepted) r = DialogResult<ShareSettings>::Accept(dlg.Settings());
        },
        quit_);
    return r;
}

DialogResult<IpAddressChoice> QtOperator::AskIpAddress(const IpAddressChoice& preset) {
    auto r = DialogResult<IpAddressChoice>::Cancelled();
    RunOnGuiThread(
        [&] {
            CIPEdit dlg(preset, Parent());
            if (dlg.exec() == QDialog::Accepted)
                r = DialogResult<IpAddressChoice>::Accept(dlg.Choice());
        },
        quit_);
    return r;
}

}  // namespace tavrix
