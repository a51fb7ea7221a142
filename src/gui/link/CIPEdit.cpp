#include "link/CIPEdit.h"

#include "base/DialogFrame.h"
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/MessageBoxes.h"

namespace tavrix {

namespace {
// An octet field moves on to the next one on "." or after three digits, as an address
// control does.
class OctetEdit : public QLineEdit {
public:
    explicit OctetEdit(QWidget* parent) : QLineEdit(parent) {
        setValidator(new QIntValidator(0, 255, this));
        setMaxLength(3);
        setAlignment(Qt::AlignCenter);
        setFrame(false);
        setFixedWidth(fontMetrics().horizontalAdvance("0000") + 6);
    }
    QLineEdit* next = nullptr;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (next && (e->text() == "." || e->key() == Qt::Key_Period)) {
            next->setFocus();
            next->selectAll();
            return;
        }
        QLineEdit::keyPressEvent(e);
        // The validator lets "300" through as unfinished input; an octet stops at 255.
        if (text().toInt() > 255) setText("255");
        if (next && text().size() == 3 && cursorPosition() == 3 && !e->text().isEmpty() &&
            e->text()[0].isDigit()) {
            next->setFocus();
            next->selectAll();
        }
    }
};
}  // namespace

CIPEdit::CIPEdit(const IpAddressChoice& preset, QWidget* parent)
    : QDialog(parent), choice_(preset) {
    setWindowTitle("Edit IP Address");

    // The four fields sit in one framed box with dots between them.
    auto* box = new QFrame(this);
    box->setObjectName("ipAddress1172");
    box->setFrameShape(QFrame::StyledPanel);
    box->setFrameShadow(QFrame::Sunken);
    box->setAutoFillBackground(true);
    box->setBackgroundRole(QPalette::Base);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(0);
    OctetEdit* prev = nullptr;
    for (int i = 0; i < 4; ++i) {
        auto* e = new OctetEdit(box);
        e->setObjectName(QString("octet%1").arg(i));
        e->setText(QString::number((preset.address >> (24 - 8 * i)) & 0xFF));
        if (prev) prev->next = e;
        prev = e;
        octets_[static_cast<size_t>(i)] = e;
        row->addWidget(e);
        if (i < 3) row->addWidget(new QLabel(".", box));
    }

    port_ = new QLineEdit(QString::number(preset.port), this);
    port_->setObjectName("edit1233");
    port_->setFixedWidth(fontMetrics().horizontalAdvance("000000") + 12);

    connect_ = new QPushButton("Connect", this);
    connect_->setObjectName("button1167");
    connect_->setDefault(true);
    connect_->setAutoDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setAutoDefault(false);
    connect(connect_, &QPushButton::clicked, this, &CIPEdit::OnConnect);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Server IP Address:", this), 0, 0);
    grid->addWidget(box, 0, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel("Port:", this), 1, 0);
    grid->addWidget(port_, 1, 1, Qt::AlignLeft);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(connect_);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
    ModalDialogFrame(*this);
}

QString CIPEdit::CheckPort(const QString& text, int* value) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok) return "Enter an integer.";
    if (v < kPortMin || v > kPortMax)
        return QString("Enter an integer between %1 and %2.").arg(kPortMin).arg(kPortMax);
    if (value) *value = v;
    return {};
}

void CIPEdit::OnConnect() {
    int port = 0;
    const QString problem = CheckPort(port_->text(), &port);
    if (!problem.isEmpty()) {
        ShowMessageBox(this, problem, MessageIcon::Exclamation);
        port_->setFocus();
        port_->selectAll();
        return;
    }
    uint32_t address = 0;
    for (int i = 0; i < 4; ++i) {
        const int v =
            std::min(octets_[static_cast<size_t>(i)]->text().toInt(), 255);  // empty reads 0
        address = (address << 8) | static_cast<uint32_t>(v & 0xFF);
    }
    choice_ = {address, static_cast<unsigned long>(port)};
    accept();
}

}  // namespace tavrix
