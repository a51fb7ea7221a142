#include "calgen/CThreePoints.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace tavrix {

CThreePoints::CThreePoints(const ThreePointsValues& preset, DesktopPrograms& desktop,
                           OperatorInterface& op, QWidget* parent)
    : CReferencePointDialog(desktop, op, ThreePointsForm::kVaporPressureButton, parent),
      form_(preset) {
    using F = ThreePointsForm;
    setWindowTitle(F::kTitle);
    const int rows[3][2] = {{F::kLowTemperatureEdit, F::kLowReadingEdit},
                            {F::kMiddleTemperatureEdit, F::kMiddleReadingEdit},
                            {F::kHighTemperatureEdit, F::kHighReadingEdit}};
    auto* body = new QGridLayout;
    body->setHorizontalSpacing(6);
    for (int i = 0; i < 3; ++i) {
        const int row = i * 3;
        if (i > 0) body->setRowMinimumHeight(row - 1, 8);
        body->addWidget(MakeText(F::kRowPrompts[i]), row, 0, 1, 6);
        body->addWidget(MakeText(kTemperatureLabel), row + 1, 0);
        body->addWidget(MakeEdit(rows[i][0]), row + 1, 1);
        body->addWidget(MakeText("K"), row + 1, 2);
        body->addWidget(MakeText(kVoltageLabel), row + 1, 3);
        body->addWidget(MakeEdit(rows[i][1]), row + 1, 4);
        body->addWidget(MakeText("V"), row + 1, 5);
    }
    body->setColumnMinimumWidth(2, 12);
    body->setRowStretch(9, 1);
    Finish(body);
}

}  // namespace tavrix
