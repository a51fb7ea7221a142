#include "calgen/CSelectCalGenType.h"

#include "base/DialogFrame.h"
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrix {

namespace {
QComboBox* MakeList(QWidget* parent, int id, const std::vector<std::string>& entries) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString("combo%1").arg(id));
    for (const std::string& e : entries) c->addItem(QString::fromStdString(e));
    return c;
}
}  // namespace

CSelectCalGenType::CSelectCalGenType(QWidget* parent) : QDialog(parent) {
    using S = CalGenTypeSelection;
    setWindowTitle(S::kTitle);
    sensor_ = MakeList(this, S::kSensorTypeList, S::SensorTypeEntries());
    points_ = MakeList(this, S::kPointsList, S::PointsEntries());

    model_.Open();
    sensor_->setCurrentIndex(model_.SensorTypeSelection());
    points_->setCurrentIndex(model_.PointsSelection());
    points_->setEnabled(model_.PointsListEnabled());
    connect(sensor_, &QComboBox::currentIndexChanged, this, [this](int index) {
        model_.SelectSensorType(index);
        points_->setEnabled(model_.PointsListEnabled());
    });
    connect(points_, &QComboBox::currentIndexChanged, this,
            [this](int index) { model_.SelectPoints(index); });

    accept_ = new QPushButton(S::kAcceptText, this);
    accept_->setObjectName("button1");
    accept_->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("button2");
    cancel->setAutoDefault(false);
    connect(accept_, &QPushButton::clicked, this, [this] {
        model_.Accept();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(S::kSensorTypeLabel, this), 0, 0);
    grid->addWidget(sensor_, 0, 1);
    grid->addWidget(new QLabel(S::kPointsLabel, this), 1, 0);
    grid->addWidget(points_, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(accept_);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addSpacing(6);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
    ModalDialogFrame(*this);
}

}  // namespace tavrix
