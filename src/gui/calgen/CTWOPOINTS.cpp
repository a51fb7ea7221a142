#include "calgen/CTWOPOINTS.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tavrix {

CTWOPOINTS::CTWOPOINTS(const TwoPointsValues& preset, DesktopPrograms& desktop,
                       OperatorInterface& op, QWidget* parent)
    : CReferencePointDialog(desktop, op, TwoPointsForm::kVaporPressureButton, parent),
      form_(preset) {
    using F = TwoPointsForm;
    setWindowTitle(F::kTitle);
    auto text = [this](int id) {
        return MakeText(QString::fromStdString(form_.StaticText(id)), id);
    };
    auto* body = new QGridLayout;
    body->setHorizontalSpacing(6);
    // Row pairs: prompt, then temperature and reading.
    auto addPoint = [&](int row, int prompt, int tEdit, int label, int rEdit, int unit) {
        body->addWidget(text(prompt), row, 0, 1, 6);
        body->addWidget(MakeText(kTemperatureLabel), row + 1, 0);
        body->addWidget(MakeEdit(tEdit), row + 1, 1);
        body->addWidget(MakeText("K"), row + 1, 2);
        body->addWidget(text(label), row + 1, 3);
        body->addWidget(MakeEdit(rEdit), row + 1, 4);
        body->addWidget(text(unit), row + 1, 5);
    };
    addPoint(0, F::kFirstPromptText, F::kFirstTemperatureEdit, F::kFirstLabelText,
             F::kFirstReadingEdit, F::kFirstUnitText);
    body->setRowMinimumHeight(2, 8);
    addPoint(3, F::kSecondPromptText, F::kSecondTemperatureEdit, F::kSecondLabelText,
             F::kSecondReadingEdit, F::kSecondUnitText);
    body->setColumnMinimumWidth(2, 12);
    body->setColumnMinimumWidth(5, fontMetrics().horizontalAdvance("ohm") + 4);
    body->setRowStretch(5, 1);
    Button(F::kVaporPressureButton)->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    Finish(body);
}

}  // namespace tavrix
