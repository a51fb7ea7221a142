#include "logging/CDataLogSetup.h"
#include "base/DialogFrame.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MessageBoxes.h"

namespace tavrix {

namespace lt = logging_texts;

CDataLogSetup::CDataLogSetup(const DataLogSetupModel& preset, QWidget* parent)
    : QDialog(parent), model_(preset) {
    setWindowTitle(lt::kSetupTitle);
    auto* top = new QVBoxLayout(this);
    auto* groups = new QHBoxLayout;
    const char* groupTitles[3] = {"Input Channels", "Output Channels", "Loop Setpoints"};
    QGridLayout* grids[3];
    for (int g = 0; g < 3; ++g) {
        auto* box = new QGroupBox(groupTitles[g], this);
        grids[g] = new QGridLayout(box);
        groups->addWidget(box);
    }
    for (int i = 0; i < kLogSourceCount; ++i) {
        const LogSource& s = kLogSources[static_cast<size_t>(i)];
        auto* box = new QCheckBox(s.setupCaption, this);
        box->setObjectName(QString("check%1").arg(s.setupControlId));
        box->setEnabled(model_.enabled[static_cast<size_t>(i)] != 0);
        box->setChecked(model_.Checked(i));
        // Inputs in two columns of four, outputs and setpoints in one column.
        const int g = static_cast<int>(s.group);
        const int pos = g == 0 ? i : (g == 1 ? i - 8 : i - 12);
        if (g == 0)
            grids[0]->addWidget(box, pos % 4, pos / 4);
        else
            grids[g]->addWidget(box, pos, 0);
        connect(box, &QCheckBox::clicked, this, [this, i] { model_.Toggle(i); });
        boxes_[static_cast<size_t>(i)] = box;
    }
    top->addLayout(groups);

    auto* row = new QHBoxLayout;
    selectAll_ = new QPushButton("Select All", this);
    selectAll_->setObjectName("button1193");
    row->addWidget(selectAll_);
    row->addStretch(1);
    row->addWidget(new QLabel("Interval :", this));
    interval_ = new QLineEdit(QString::fromStdString(model_.IntervalText()), this);
    interval_->setObjectName("edit1068");
    interval_->setMaximumWidth(fontMetrics().averageCharWidth() * 12);
    row->addWidget(interval_);
    row->addWidget(new QLabel("sec", this));
    apply_ = new QPushButton("Apply", this);
    apply_->setObjectName("button1165");
    row->addWidget(apply_);
    top->addLayout(row);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    start_ = new QPushButton("Start", this);
    start_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    top->addLayout(buttons);

    connect(selectAll_, &QPushButton::clicked, this, [this] {
        model_.SelectAll();
        for (int i = 0; i < kLogSourceCount; ++i)
            if (model_.enabled[static_cast<size_t>(i)])
                boxes_[static_cast<size_t>(i)]->setChecked(true);
    });
    connect(apply_, &QPushButton::clicked, this,
            [this] { TakeInterval(model_.Apply(interval_->text().toStdString())); });
    connect(start_, &QPushButton::clicked, this, &CDataLogSetup::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    ModalDialogFrame(*this);
}

bool CDataLogSetup::TakeInterval(const std::string& message) {
    if (message.empty()) return true;
    Tell(message, message == lt::kSelectSource ? MessageIcon::None : MessageIcon::Exclamation);
    if (message != lt::kSelectSource) {
        interval_->setFocus();
        interval_->selectAll();
    }
    return false;
}

void CDataLogSetup::accept() {
    if (TakeInterval(model_.Start(interval_->text().toStdString()))) QDialog::accept();
}

void CDataLogSetup::Tell(const std::string& text, MessageIcon icon) {
    if (op_)
        op_->ShowMessage(text, icon);
    else
        ShowMessageBox(this, QString::fromStdString(text), icon);
}

}  // namespace tavrix
