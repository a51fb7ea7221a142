#include "calgen/COnePoint.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace tavrix {

COnePoint::COnePoint(const OnePointValues& preset, DesktopPrograms& desktop, OperatorInterface& op,
                     QWidget* parent)
    : CReferencePointDialog(desktop, op, OnePointForm::kVaporPressureButton, parent),
      form_(preset) {
    using F = OnePointForm;
    setWindowTitle(F::kTitle);
    auto* body = new QGridLayout;
    body->addWidget(MakeText(QString::fromStdString(form_.values.prompt), F::kPromptText), 0, 0, 1,
                    3);
    body->addWidget(MakeText(kVoltageLabel), 1, 0);
    body->addWidget(MakeEdit(F::kReadingEdit), 1, 1);
    body->addWidget(MakeText("V"), 1, 2);
    body->addWidget(MakeText(kTemperatureLabel), 2, 0);
    body->addWidget(MakeEdit(F::kTemperatureEdit), 2, 1);
    body->addWidget(MakeText("K"), 2, 2);
    body->setRowStretch(3, 1);
    Finish(body);
}

}  // namespace tavrix
