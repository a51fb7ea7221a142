#pragma once

#include <QDialog>
#include <map>

#include "calgen/ReferencePointForms.h"
#include "calgen/VaporPressureLauncher.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrix {

// What the three reference-point dialogs share: edits bound to a limited-float form, the limit
// tests on OK, and the "Vapor Pressure" button that toggles the calculator program.
class CReferencePointDialog : public QDialog {
    Q_OBJECT
public:
    // Controls by their resource ids (edits, OK 1, Cancel 2, the Vapor Pressure button).
    QLineEdit* Edit(int controlId) const;
    QPushButton* Button(int controlId) const;

    // Cancel, Escape and the close box: the calculator's second window is closed first.
    void reject() override;

protected:
    CReferencePointDialog(DesktopPrograms& desktop, OperatorInterface& op, int vaporPressureId,
                          QWidget* parent);
    // The form the edits are bound to; it lives in the derived dialog.
    virtual LimitedFloatForm& Form() = 0;

    // An edit for a control of the form, showing its member's value.
    QLineEdit* MakeEdit(int controlId);
    QLabel* MakeText(const QString& text, int controlId = 0);
    // Puts the body beside the button column.
    void Finish(QGridLayout* body);

private:
    void OnOk();

    VaporPressureLauncher launcher_;
    std::map<int, QLineEdit*> edits_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* vapor_;
    int vaporId_;
};

}  // namespace tavrix
