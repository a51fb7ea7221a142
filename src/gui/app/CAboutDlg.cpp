#include "app/CAboutDlg.h"

#include "base/DialogFrame.h"
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include "app/GuiResources.h"

namespace tavrix {

QString CAboutDlg::Text() {
    return "Tavrix Utility Software  Version 1.0\n"
           "Copyright (C) Orvella, Inc\n"
           "\n"
           "Orvella, Inc\n"
           "1480 Fenwick Road, Suite 300\n"
           "Brightwater, OH 43211, USA\n"
           "Phone: (614) 555-0142\n"
           "Fax: (614) 555-0187";
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    InitGuiResources();
    setWindowTitle("About Tavrix Utility Software");
    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(":/tavrix/tavrix.png"));
    picture->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(Text(), this);
    text->setObjectName("aboutText");
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* top = new QVBoxLayout(this);
    top->addLayout(row);
    top->addWidget(buttons);
    // Fixed in size, and no narrower than its whole title.
    top->addStrut(TitleWidth(*this));
    top->setSizeConstraint(QLayout::SetFixedSize);
    ModalDialogFrame(*this);
}

}  // namespace tavrix
