#include "link/CIPEdit.h"

#include "base/DialogFrame.h"
#include <QClipboard>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "base/MessageBoxes.h"

namespace tavrix {

namespace {
// An octet field of the address. Entering one selects its text, so typing replaces it; it moves
// on to the next after three digits or on "."; a "." right after such a move is the separator
// already taken, so typing or pasting a whole address fills the four fields.
class OctetEdit : public QLineEdit {
public:
    explicit OctetEdit(QWidget* parent) : QLineEdit(parent) {
        setValidator(new QIntValidator(0, 255, this));
        setMaxLength(3);
        setAlignment(Qt::AlignCenter);
        setFrame(false);
        setFixedWidth(fontMetrics().horizontalAdvance("0000") + 6);
    }
    OctetEdit* next = nullptr;

    // Focus here with the text selected; `moved` when the operator's typing brought it here.
    void Enter(bool moved) {
        setFocus(Qt::OtherFocusReason);
        selectAll();
        fresh_ = moved;
    }

    // "a.b.c.d" (or its first parts) into this field and the ones after it; false when the
    // text is not such an address.
    bool FillFrom(const QString& text) {
        const QStringList parts = text.trimmed().split('.');
        if (parts.size() < 2) return false;
        std::vector<int> values;
        for (const QString& p : parts) {
            bool ok = false;
            const int v = p.toInt(&ok);
            if (!ok || v < 0 || v > 255 || p.size() > 3) return false;
            values.push_back(v);
        }
        OctetEdit* field = this;
        for (size_t i = 0; i < values.size() && field; ++i, field = field->next) {
            field->setText(QString::number(values[i]));
            if (i + 1 == values.size()) field->Enter(false);
        }
        return true;
    }

protected:
    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        if (e->reason() != Qt::MouseFocusReason) selectAll();
    }
    void focusOutEvent(QFocusEvent* e) override {
        fresh_ = false;
        QLineEdit::focusOutEvent(e);
    }

    void keyPressEvent(QKeyEvent* e) override {
        if (e->matches(QKeySequence::Paste)) {
            if (!FillFrom(QGuiApplication::clipboard()->text())) QLineEdit::keyPressEvent(e);
            return;
        }
        if (e->text() == "." || e->key() == Qt::Key_Period) {
            const bool separatorOfTheMove = fresh_;
            fresh_ = false;
            if (next && !separatorOfTheMove && !text().isEmpty()) next->Enter(false);
            return;
        }
        QLineEdit::keyPressEvent(e);
        const bool digit = !e->text().isEmpty() && e->text()[0].isDigit();
        if (digit) fresh_ = false;
        // The validator lets "300" through as unfinished input; an octet stops at 255.
        if (text().toInt() > 255) setText("255");
        if (next && digit && text().size() == 3 && cursorPosition() == 3) next->Enter(true);
    }

private:
    bool fresh_ = false;
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
    // Typing starts over the address's first part.
    octets_[0]->setFocus(Qt::OtherFocusReason);
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
