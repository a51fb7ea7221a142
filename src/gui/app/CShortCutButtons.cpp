#include "app/CShortCutButtons.h"

#include <QBitmap>
#include <QGridLayout>
#include <QHideEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include "app/Commands.h"
#include "app/GuiResources.h"
#include "app/ViewMessenger.h"
#include "base/OperatorInterface.h"
#include "calgen/CSelectCalGenType.h"

namespace tavrix {

// Paints the LED image of the current state; sits 5 pixels right of "Status:", level with its
// top.
class CShortCutButtons::Led : public QWidget {
public:
    explicit Led(CShortCutButtons& bar) : QWidget(&bar), bar_(bar) {
        setFixedSize(kLedSize, kLedSize);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (bar_.leds_.isNull()) return;
        QPainter p(this);
        p.drawPixmap(0, 0, bar_.leds_, bar_.ledIndex_ * kLedSize, 0, kLedSize, kLedSize);
    }

private:
    CShortCutButtons& bar_;
};

CShortCutButtons::CShortCutButtons(ShortcutBarModel& model, OperatorInterface& op, QWidget* parent,
                                   const QString& ledImage)
    : QDialog(parent, Qt::Tool), model_(model) {
    InitGuiResources();
    setWindowTitle("Short Cuts");
    setModal(false);

    auto makeButton = [this](const char* text, int id) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString("button%1").arg(id));
        b->setAutoDefault(false);
        return b;
    };
    curve_ = makeButton("Sensor Curve    Download", 1173);
    pid_ = makeButton("PID Table Download", 1174);
    interact_ = makeButton("Interact", 1177);
    calgen_ = makeButton("CalGen", 1178);
    logging_ = makeButton("Data Logging", 1179);
    upload_ = makeButton("Upload Internal DataLog", 1192);
    connect_ = makeButton("Connect", 1190);

    connect(curve_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_CURVE_DOWNLOAD); });
    connect(pid_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_PID_DOWNLOAD); });
    connect(interact_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_INTERACT); });
    connect(logging_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_DATA_LOGGING); });
    connect(upload_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_DATALOG_UPLOAD); });
    connect(connect_, &QPushButton::clicked, this, [this] { Post(WM_SHORTCUT_CONNECT); });
    connect(calgen_, &QPushButton::clicked, this, [this] {
        if (onCalGen) {
            onCalGen();
            return;
        }
        CSelectCalGenType select(this);
        if (select.exec() == QDialog::Accepted && target_)
            target_->Post(WM_CALGEN_REQUEST, select.SensorType(), select.Points());
    });

    transport_ = new QLabel(this);
    statusLabel_ = new QLabel("Status:", this);
    status_ = new QLabel(this);
    model_text_ = new QLabel(this);
    version_ = new QLabel(this);
    transport_->setObjectName("text1180");
    statusLabel_->setObjectName("label1181");
    status_->setObjectName("text1189");
    model_text_->setObjectName("text1182");
    version_->setObjectName("text1191");
    // Model and version come from the instrument: plain text, never markup.
    for (QLabel* l : {transport_, status_, model_text_, version_}) l->setTextFormat(Qt::PlainText);
    // Room for the longest texts, so the bar does not jump when they change.
    status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance("Not Connected") + 4);
    model_text_->setMinimumWidth(model_text_->fontMetrics().averageCharWidth() * 22);
    model_text_->setWordWrap(true);
    led_ = new Led(*this);

    auto* column = new QVBoxLayout(this);
    column->setSpacing(4);
    for (QPushButton* b : {curve_, pid_, interact_, calgen_, logging_, upload_})
        column->addWidget(b);
    column->addSpacing(6);

    auto* info = new QGridLayout;
    info->setHorizontalSpacing(6);
    info->setVerticalSpacing(4);
    info->addWidget(new QLabel("Comm Type:", this), 0, 0);
    info->addWidget(transport_, 0, 1);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(0);
    statusRow->addWidget(statusLabel_, 0, Qt::AlignTop);
    statusRow->addSpacing(5);
    statusRow->addWidget(led_, 0, Qt::AlignTop);
    statusRow->addStretch();
    info->addLayout(statusRow, 1, 0);
    info->addWidget(status_, 1, 1, Qt::AlignTop);
    info->addWidget(model_text_, 2, 0, 1, 2);
    info->addWidget(new QLabel("Ver:", this), 3, 0);
    info->addWidget(version_, 3, 1);
    info->setColumnStretch(1, 1);
    column->addLayout(info);
    column->addSpacing(4);
    column->addWidget(connect_);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // The strip holds one 16x16 image per state; its top-left pixel is the transparent colour.
    QImage strip(ledImage);
    if (strip.isNull() || strip.width() < 3 * kLedSize || strip.height() < kLedSize) {
        op.ShowMessage("Failed to load LED bitmaps", MessageIcon::Stop);
    } else {
        QPixmap pm = QPixmap::fromImage(strip);
        pm.setMask(
            QBitmap::fromImage(strip.createMaskFromColor(strip.pixel(0, 0), Qt::MaskInColor)));
        leds_ = pm;
    }

    model_.SetOnChanged([this] {
        if (QThread::currentThread() == thread())
            Refresh();
        else
            QMetaObject::invokeMethod(
                this, [this] { Refresh(); }, Qt::QueuedConnection);
    });
    Refresh();
}

CShortCutButtons::~CShortCutButtons() {
    model_.SetOnChanged(nullptr);
}

void CShortCutButtons::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // A tool window of the main window: the window manager keeps it above the main window,
    // also while that window's dialogs are open.
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        owner->winId();
        if (windowHandle() && owner->windowHandle())
            windowHandle()->setTransientParent(owner->windowHandle());
    }
}

void CShortCutButtons::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    if (onPlaceChanged && !e->spontaneous()) onPlaceChanged(frameGeometry());
}

void CShortCutButtons::ShowAgain() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CShortCutButtons::Refresh() {
    const ShortcutBarModel::Snapshot s = model_.Get();
    transport_->setText(QString::fromStdString(s.transportName));
    status_->setText(QString::fromStdString(s.statusWord));
    model_text_->setText(QString::fromStdString(s.modelText));
    version_->setText(QString::fromStdString(s.versionText));
    QPushButton* five[kShortcutButtonCount] = {curve_, pid_, interact_, logging_, upload_};
    for (int i = 0; i < kShortcutButtonCount; ++i) five[i]->setEnabled(s.buttons[i]);
    calgen_->setEnabled(true);
    connect_->setEnabled(true);
    if (ledIndex_ != s.ledIndex) {
        ledIndex_ = s.ledIndex;
        led_->repaint();  // the status shows at once, even in the middle of a command
    }
}

QPushButton* CShortCutButtons::Button(int id) const {
    switch (id) {
        case 1173:
            return curve_;
        case 1174:
            return pid_;
        case 1177:
            return interact_;
        case 1178:
            return calgen_;
        case 1179:
            return logging_;
        case 1192:
            return upload_;
        case 1190:
            return connect_;
        default:
            return nullptr;
    }
}

QString CShortCutButtons::TransportText() const {
    return transport_->text();
}
QString CShortCutButtons::StatusText() const {
    return status_->text();
}
QString CShortCutButtons::ModelText() const {
    return model_text_->text();
}
QString CShortCutButtons::VersionText() const {
    return version_->text();
}

void CShortCutButtons::Post(int message) {
    if (target_) target_->Post(message, 0, 0);
}

}  // namespace tavrix
