#include "charts/CStripChart.h"
#include "base/DialogFrame.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>

#include "base/QtFileDialog.h"
#include "charts/ChartExport.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QImage>
#include <QPainter>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <ctime>

#include "base/MessageBoxes.h"

namespace tavrix {

namespace st = strip_chart_texts;

CStripChart::CStripChart(int length, QWidget* parent) : QDialog(parent), model_(length) {
    setWindowTitle(st::kTitle);
    ResizableWindowFrame(*this);
    setSizeGripEnabled(true);
    setModal(false);

    auto_ = new QRadioButton("Auto", this);
    auto_->setObjectName("button1160");
    manual_ = new QRadioButton("Manual", this);
    manual_->setObjectName("button1161");
    max_ = new QLineEdit(this);
    max_->setObjectName("edit1164");
    min_ = new QLineEdit(this);
    min_->setObjectName("edit1163");
    apply_ = new QPushButton("Apply", this);
    apply_->setObjectName("button1162");
    clear_ = new QPushButton("Clear", this);
    clear_->setObjectName("button1236");
    for (QLineEdit* field : {max_, min_}) {
        field->setMaxLength(static_cast<int>(StripChartModel::kFieldChars));
        field->setFixedWidth(field->fontMetrics().horizontalAdvance("0000000") + 12);
        connect(field, &QLineEdit::textEdited, this,
                [this, field](const QString& t) { FilterTyping(field, t); });
    }
    // Enter anywhere means "Apply", whichever button has the focus.
    for (QPushButton* b : {apply_, clear_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(auto_, &QRadioButton::clicked, this, &CStripChart::OnAuto);
    connect(manual_, &QRadioButton::clicked, this, &CStripChart::OnManual);
    connect(apply_, &QPushButton::clicked, this, &CStripChart::OnApply);
    connect(clear_, &QPushButton::clicked, this, &CStripChart::Clear);

    auto* column = new QVBoxLayout;
    column->addWidget(auto_);
    column->addWidget(manual_);
    column->addSpacing(6);
    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel("Max:", this), 0, 0);
    fields->addWidget(max_, 0, 1);
    fields->addWidget(new QLabel("Min:", this), 1, 0);
    fields->addWidget(min_, 1, 1);
    column->addLayout(fields);
    column->addWidget(apply_);
    column->addStretch(1);
    column->addWidget(clear_);

    chart_ = new QChart;
    chart_->legend()->hide();
    // Room on the right for the newest time label, which sits on the last point.
    chart_->setMargins(QMargins(4, 4, 30, 4));
    series_ = new QLineSeries;
    chart_->addSeries(series_);
    valueAxis_ = new QValueAxis;
    valueAxis_->setLabelFormat("%g");
    timeAxis_ = new QCategoryAxis;
    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    timeAxis_->setTitleText(StripChartModel::kTimeAxisTitle);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    series_->attachAxis(timeAxis_);
    series_->attachAxis(valueAxis_);
    // The number of value marks follows the plot's height.
    connect(chart_, &QChart::plotAreaChanged, this, [this] { PlaceValueMarks(); });
    view_ = new QChartView(chart_, this);
    view_->setObjectName("stripChartView");
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(200, 150);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* save = menu.addAction("Save Image...");
        QAction* copy = menu.addAction("Copy Data");
        QAction* chosen = menu.exec(view_->mapToGlobal(at));
        if (chosen == copy) CopyData();
        if (chosen != save) return;
        // The program's own file dialog, wide enough for its columns, in the images folder.
        QFileDialog dialog(this, "Save Image");
        const FileDialogRequest request{
            "PNG image|*.png|SVG image|*.svg||", "png", kHideReadOnly | kOverwritePrompt,
            StartPath(FileKind::Images, windowTitle() + ".png").toStdString()};
        ConfigureFileDialog(dialog, request, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
        QString path = dialog.selectedFiles().first();
        RememberChosenFile(FileKind::Images, path);
        if (!path.endsWith(".png", Qt::CaseInsensitive) &&
            !path.endsWith(".svg", Qt::CaseInsensitive))
            path += ".png";
        if (!SaveImage(path)) QMessageBox::critical(this, windowTitle(), "Could not write " + path);
    });

    auto* top = new QHBoxLayout(this);
    top->addLayout(column);
    top->addWidget(view_, 1);

    // Room for the chart's texts at the desktop's font size.
    resize(std::max(480, fontMetrics().averageCharWidth() * 64),
           std::max(280, fontMetrics().height() * 16));
    // Starts in automatic mode.
    auto_->setChecked(true);
    Redraw(model_.Auto());
    UpdateFieldStates();
}

void CStripChart::AddReading(float value) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char label[16] = {};
    std::strftime(label, sizeof label, "%H:%M:%S", &local);
    AddReading(value, label);
}

void CStripChart::AddReading(float value, const std::string& timeLabel) {
    Redraw(model_.AddReading(value, timeLabel));
}

void CStripChart::SetUnit(const std::string& unit) {
    model_.SetUnit(unit);
    Rebuild();
}

void CStripChart::SetName(const std::string& name) {
    model_.SetName(name);
    Rebuild();
}

void CStripChart::ApplyReading(const MonitorReading& reading, const std::string& timeLabel) {
    std::string label = timeLabel;
    if (label.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[16] = {};
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
        label = text;
    }
    Redraw(ApplyMonitorReading(model_, reading, label));
}

QSize CStripChart::ImageSize() const {
    // The size `tavrix-cli plot` draws at by default.
    return view_->size().expandedTo(QSize(1200, 700));
}

bool CStripChart::SaveImage(const QString& path) {
    const QSize size = ImageSize();
    if (path.endsWith(".svg", Qt::CaseInsensitive)) {
        QFile f(path);
        const QByteArray svg =
            QByteArray::fromStdString(ChartSvg(model_, size.width(), size.height()));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(svg) == svg.size() &&
               f.flush();
    }
    // The chart is laid out again at the image's size, drawn, and given back its size, all
    // before the window paints again: the window does not change.
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const QSizeF shown = chart_->size();
    chart_->resize(size);
    if (chart_->layout()) chart_->layout()->activate();
    PlaceValueMarks();
    PlotPoints(size.width());
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        chart_->scene()->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)),
                                QRectF(chart_->pos(), QSizeF(size)));
    }
    chart_->resize(shown);
    if (chart_->layout()) chart_->layout()->activate();
    PlaceValueMarks();
    PlotPoints();
    return image.save(path, "PNG");
}

void CStripChart::CopyData() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(ChartDataCsv(model_)));
}

void CStripChart::Clear() {
    Redraw(model_.Clear());
}

void CStripChart::OnAuto() {
    Redraw(model_.Auto());
    UpdateFieldStates();
}

void CStripChart::OnManual() {
    model_.Manual();
    UpdateFieldStates();
}

void CStripChart::OnApply() {
    const auto outcome = model_.Apply(min_->text().toStdString(), max_->text().toStdString());
    if (!outcome.message.empty()) {
        // The order check is the window's own (error icon); the others are the field checks.
        const bool order = outcome.message == st::kMinNotBelowMax;
        ShowMessageBox(this, QString::fromStdString(outcome.message),
                       order ? MessageIcon::Stop : MessageIcon::Exclamation);
        return;
    }
    Redraw(outcome.redraw);
}

void CStripChart::UpdateFieldStates() {
    const bool on = model_.FieldsEnabled();
    max_->setEnabled(on);
    min_->setEnabled(on);
    apply_->setEnabled(on);
}

void CStripChart::ShowFields() {
    max_->setText(QString::fromStdString(model_.MaxFieldText()));
    min_->setText(QString::fromStdString(model_.MinFieldText()));
}

void CStripChart::FilterTyping(QLineEdit* field, const QString& typed) {
    const QString kept =
        QString::fromStdString(StripChartModel::FilterFieldText(typed.toStdString()));
    if (kept == typed) return;
    field->setText(kept);
    field->setCursorPosition(static_cast<int>(kept.size()));
}

void CStripChart::Redraw(StripChartModel::Redraw what) {
    switch (what) {
        case StripChartModel::Redraw::None:
            return;
        case StripChartModel::Redraw::AppendPoint:
            PlotPoints();
            return;
        case StripChartModel::Redraw::Rebuild:
            Rebuild();
            return;
    }
}

void CStripChart::Rebuild() {
    // Names come from the instrument: shown as they are, never as markup.
    chart_->setTitle(QString::fromStdString(model_.Title()).toHtmlEscaped());
    valueAxis_->setTitleText(QString::fromStdString(model_.ValueAxisTitle()).toHtmlEscaped());
    const auto [lo, hi] = model_.ShownRange();
    valueAxis_->setRange(lo, hi);
    PlaceValueMarks();
    ShowFields();
    PlotPoints();
}

void CStripChart::PlaceValueMarks() {
    // About two text lines between marks; before the first layout the plot has no height.
    const qreal plot = chart_->plotArea().height();
    const int perMark = fontMetrics().height() * 2;
    const int most = plot > 0 ? std::clamp(static_cast<int>(plot) / perMark, 2, 10) : 8;
    const auto ticks = StripChartModel::NiceTicks(valueAxis_->min(), valueAxis_->max(), most);
    if (ticks.values.empty()) {
        valueAxis_->setTickType(QValueAxis::TicksFixed);
        valueAxis_->setLabelFormat("%g");
        return;
    }
    valueAxis_->setTickType(QValueAxis::TicksDynamic);
    valueAxis_->setTickAnchor(ticks.values.front());
    valueAxis_->setTickInterval(ticks.step);
    valueAxis_->setLabelFormat(QString("%.%1f").arg(ticks.decimals));
}

void CStripChart::PlotPoints(int width) {
    const auto& values = model_.Values();
    const auto& labels = model_.Labels();
    const int n = static_cast<int>(values.size());
    // Only readings that were taken: a fresh chart has no line from 0 up to the first one.
    QList<QPointF> points;
    points.reserve(model_.Taken());
    for (int i = model_.FirstTaken(); i < n; ++i)
        points.append(QPointF(i, values[static_cast<size_t>(i)]));
    series_->replace(points);
    // A single reading makes no line: it shows as a dot.
    series_->setPointsVisible(points.size() == 1);

    // As many time labels as fit, counted back from the newest; the axis needs distinct texts.
    for (const QString& l : timeAxis_->categoriesLabels()) timeAxis_->remove(l);
    timeAxis_->setStartValue(0);
    timeAxis_->setRange(0, n > 1 ? n - 1 : 1);
    const int labelWidth = view_->fontMetrics().horizontalAdvance("00:00:00") * 2;
    // The plot is the view less the value axis' labels and title.
    const int room = std::max(2, ((width < 0 ? view_->width() : width) - 80) / labelWidth);
    const int step = std::max(1, (n + room - 1) / room);
    QList<QPair<int, QString>> marks;
    QSet<QString> used;
    for (int i = n - 1; i >= model_.FirstTaken(); i -= step) {
        const QString text = QString::fromStdString(labels[static_cast<size_t>(i)]);
        if (text.isEmpty() || used.contains(text)) continue;
        used.insert(text);
        marks.prepend({i, text});
    }
    for (const auto& [at, text] : marks) timeAxis_->append(text, at);
}

void CStripChart::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OnApply();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CStripChart::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    PlotPoints();  // the number of time labels follows the width
}

void CStripChart::reject() {
    emit placeHandedBack(windowTitle(), frameGeometry());
    QDialog::reject();
}

}  // namespace tavrix
