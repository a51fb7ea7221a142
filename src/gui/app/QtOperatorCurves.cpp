// The file dialogs and the curve and PID table dialogs.
#include <QFileDialog>

#include "app/QtOperator.h"
#include "base/GuiThread.h"
#include "base/QtFileDialog.h"
#include "curves/CCalTblNumReq.h"
#include "curves/CCurveHeaderEdit.h"
#include "curves/CPIDTblNumReq.h"

namespace tavrix {

namespace {
DialogResult<std::string> AskFile(const FileDialogRequest& request, bool save, QWidget* parent,
                                  const ManualResetEvent* quit) {
    auto r = DialogResult<std::string>::Cancelled();
    RunOnGuiThread(
        [&] {
            QFileDialog dlg(parent);
            ConfigureFileDialog(dlg, request, save);
            if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
                const QString chosen = dlg.selectedFiles().first();
                RememberChosenFile(FileKindOf(request), chosen);
                r = DialogResult<std::string>::Accept(chosen.toLocal8Bit().toStdString());
            }
        },
        quit);
    return r;
}
}  // namespace

DialogResult<std::string> QtOperator::AskOpenFile(const FileDialogRequest& request) {
    return AskFile(request, false, Parent(), quit_);
}

DialogResult<std::string> QtOperator::AskSaveFile(const FileDialogRequest& request) {
    return AskFile(request, true, Parent(), quit_);
}

DialogResult<CurveHeaderEdit> QtOperator::EditCurveHeader(const CurveHeaderEdit& header) {
    auto r = DialogResult<CurveHeaderEdit>::Cancelled();
    RunOnGuiThread(
        [&] {
            CCurveHeaderEdit dlg(header, Parent());
            if (dlg.exec() == QDialog::Accepted)
                r = DialogResult<CurveHeaderEdit>::Accept(dlg.Header());
        },
        quit_);
    return r;
}

DialogResult<UserCurveChoice> QtOperator::ChooseUserCurve(const UserCurveChoice& choice) {
    auto r = DialogResult<UserCurveChoice>::Cancelled();
    RunOnGuiThread(
        [&] {
            CCalTblNumReq dlg(choice, Parent());
            if (dlg.exec() == QDialog::Accepted)
                r = DialogResult<UserCurveChoice>::Accept(dlg.Choice());
        },
        quit_);
    return r;
}

DialogResult<int> QtOperator::AskPidTableNumber(int preset) {
    auto r = DialogResult<int>::Cancelled();
    RunOnGuiThread(
        [&] {
            CPIDTblNumReq dlg(preset, Parent());
            if (dlg.exec() == QDialog::Accepted) r = DialogResult<int>::Accept(dlg.TableNumber());
        },
        quit_);
    return r;
}

}  // namespace tavrix
