#include "curves/CCurveHeaderEdit.h"

#include "base/DialogFrame.h"
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MessageBoxes.h"
#include "charts/CGraph.h"
#include "curves/CurveTexts.h"
#include "curves/SensorCurve.h"

namespace tavrix {

namespace ct = curve_texts;

CCurveHeaderEdit::CCurveHeaderEdit(const CurveHeaderEdit& header, QWidget* parent)
    : QDialog(parent), header_(header) {
    setWindowTitle(ct::kHeaderEditTitle);
    // Matching is idempotent: a model prepared by its caller comes out the same.
    header_.Open();

    name_ = new QLineEdit(QString::fromStdString(header_.name), this);
    name_->setObjectName("edit1143");

    type_ = new QComboBox(this);
    type_->setObjectName("combo1152");
    type_->setEditable(true);
    type_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* entry : kSensorTypeEntries) type_->addItem(entry);
    // The field shows the matching entry selected, or the curve's own text when none matches.
    const QString typeText = QString::fromStdString(header_.type);
    const int typeIndex = type_->findText(typeText, Qt::MatchExactly | Qt::MatchCaseSensitive);
    type_->setCurrentIndex(typeIndex);
    type_->setEditText(typeText);

    multiplier_ = new QLineEdit(QString::fromStdString(header_.MultiplierText()), this);
    multiplier_->setObjectName("edit1145");

    unit_ = new QComboBox(this);
    unit_->setObjectName("combo1149");
    for (const char* entry : kUnitListEntries) unit_->addItem(entry);
    unit_->setCurrentIndex(
        header_.unitIndex >= 0 && header_.unitIndex < unit_->count() ? header_.unitIndex : -1);

    count_ = new QLineEdit(QString::number(header_.pointCount), this);
    count_->setObjectName("edit1148");
    count_->setEnabled(false);

    save_ = new QCheckBox(ct::kHeaderSaveBox, this);
    save_->setObjectName("check1151");
    save_->setChecked(header_.saveAsCrv);
    // A .crv source is never written again as .crv.
    save_->setEnabled(header_.SaveBoxEnabled());

    accept_ = new QPushButton(ct::kHeaderAccept, this);
    accept_->setDefault(true);
    abort_ = new QPushButton(ct::kHeaderAbort, this);
    display_ = new QPushButton(ct::kHeaderDisplayCurve, this);
    connect(accept_, &QPushButton::clicked, this, &CCurveHeaderEdit::accept);
    connect(abort_, &QPushButton::clicked, this, &CCurveHeaderEdit::reject);
    connect(display_, &QPushButton::clicked, this, &CCurveHeaderEdit::DisplayCurve);

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const char* label, QWidget* field) {
        auto* l = new QLabel(label, this);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    addRow(ct::kHeaderNameLabel, name_);
    addRow(ct::kHeaderTypeLabel, type_);
    addRow(ct::kHeaderMultiplierLabel, multiplier_);
    addRow(ct::kHeaderUnitLabel, unit_);
    addRow(ct::kHeaderCountLabel, count_);
    grid->addWidget(save_, row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, fontMetrics().averageCharWidth() * 24);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(accept_);
    buttons->addWidget(abort_);
    buttons->addStretch(1);
    buttons->addWidget(display_);

    auto* top = new QHBoxLayout(this);
    top->addLayout(grid, 1);
    top->addSpacing(8);
    top->addLayout(buttons);
    ModalDialogFrame(*this);
}

void CCurveHeaderEdit::accept() {
    CurveHeaderEdit edited = header_;
    if (!edited.SetMultiplierText(multiplier_->text().toStdString())) {
        ShowMessageBox(this, ct::kEnterANumber, MessageIcon::Exclamation);
        multiplier_->setFocus();
        multiplier_->selectAll();
        return;
    }
    edited.name = name_->text().toStdString();
    edited.type = type_->currentText().toStdString();
    edited.unitIndex = unit_->currentIndex();
    edited.saveAsCrv = save_->isChecked();
    header_ = std::move(edited);
    QDialog::accept();
}

void CCurveHeaderEdit::DisplayCurve() {
    CGraph graph(header_.graph, this);
    graph.exec();
}

}  // namespace tavrix
