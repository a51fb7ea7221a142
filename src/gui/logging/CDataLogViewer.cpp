#include "logging/CDataLogViewer.h"

#include <QAction>
#include <QChart>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWheelEvent>
#include <algorithm>

#include "logging/DataLogExport.h"

namespace tavrix {

// ---- the chart view --------------------------------------------------------------------

void LogChartView::wheelEvent(QWheelEvent* e) {
    const QRectF area = chart()->plotArea();
    const double at = area.width() > 0
                          ? std::clamp((e->position().x() - area.left()) / area.width(), 0.0, 1.0)
                          : 0.5;
    const int steps = e->angleDelta().y() / 120;
    if (steps == 0) return;
    emit wheelZoom(steps > 0 ? std::pow(0.8, steps) : std::pow(1.25, -steps), at);
    e->accept();
}

void LogChartView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::MiddleButton) {
        panning_ = true;
        panX_ = e->position().x();
        e->accept();
        return;
    }
    QChartView::mousePressEvent(e);
}

void LogChartView::mouseMoveEvent(QMouseEvent* e) {
    if (panning_) {
        const double width = chart()->plotArea().width();
        if (width > 0) emit pan((panX_ - e->position().x()) / width);
        panX_ = e->position().x();
        e->accept();
        return;
    }
    QChartView::mouseMoveEvent(e);
}

void LogChartView::mouseReleaseEvent(QMouseEvent* e) {
    if (panning_ && e->button() == Qt::MiddleButton) {
        panning_ = false;
        e->accept();
        return;
    }
    QChartView::mouseReleaseEvent(e);
}

void LogChartView::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) {
        emit pan(e->key() == Qt::Key_Left ? -0.1 : 0.1);
        return;
    }
    QChartView::keyPressEvent(e);
}

// ---- the window ------------------------------------------------------------------------

CDataLogViewer::CDataLogViewer(QWidget* parent) : QMainWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1100, 650);
}

CDataLogViewer* CDataLogViewer::Open(const QString& path, QWidget* parent, QString& error) {
    auto* w = new CDataLogViewer(parent);
    std::string why;
    if (!w->file_.Open(path.toStdString(), why)) {
        error = QString::fromStdString(why);
        delete w;
        return nullptr;
    }
    w->setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - Data Log"));
    w->chart_ = std::make_unique<LogChart>(w->file_);
    w->view_ = new LogChartView(w->chart_->Chart(), w);
    w->view_->setRenderHint(QPainter::Antialiasing);
    w->view_->setRubberBand(QChartView::RectangleRubberBand);
    w->view_->setFocusPolicy(Qt::StrongFocus);
    w->setCentralWidget(w->view_);

    QToolBar* bar = w->addToolBar(QStringLiteral("Data Log"));
    bar->setMovable(false);
    bar->addAction(QStringLiteral("Reset Zoom"), w, [w] { w->ResetZoom(); });
    bar->addAction(QStringLiteral("Export Image..."), w, [w] {
        const QString p =
            QFileDialog::getSaveFileName(w, QStringLiteral("Export Image"), QString(),
                                         QStringLiteral("PNG Image (*.png);;SVG Drawing (*.svg)"));
        QString e;
        if (!p.isEmpty() && !w->ExportImage(p, e))
            QMessageBox::critical(w, QStringLiteral("Export Image"), e);
    });
    bar->addAction(QStringLiteral("Export CSV..."), w, [w] {
        const QString p = QFileDialog::getSaveFileName(w, QStringLiteral("Export CSV"), QString(),
                                                       QStringLiteral("CSV Files (*.csv)"));
        QString e;
        if (!p.isEmpty() && !w->ExportShownCsv(p, e))
            QMessageBox::critical(w, QStringLiteral("Export CSV"), e);
    });
    w->status_ = new QLabel(w);
    w->status_->setTextFormat(Qt::PlainText);
    w->statusBar()->addWidget(w->status_, 1);

    // Legend entries hide and show their column.
    for (size_t c = 0; c < w->file_.Info().columns.size(); ++c) {
        QLineSeries* s = w->chart_->SeriesOf(c);
        if (!s) continue;
        for (QLegendMarker* m : w->chart_->Chart()->legend()->markers(s))
            connect(m, &QLegendMarker::clicked, w,
                    [w, c] { w->SetColumnShown(c, !w->chart_->Shown(c)); });
    }
    connect(w->view_, &LogChartView::wheelZoom, w,
            [w](double f, double at) { w->ZoomAround(f, at); });
    connect(w->view_, &LogChartView::pan, w, [w](double f) { w->Pan(f); });
    // A rubber band (or a right click) changed the axes: values keep the zoom, the lines are
    // drawn again for the new time range.
    connect(w->chart_.get(), &LogChart::rangeChangedByChart, w, [w] {
        w->chart_->SetAutoValueRange(false);
        w->ScheduleRedraw();
    });

    w->redraw_ = new QTimer(w);
    w->redraw_->setSingleShot(true);
    w->redraw_->setInterval(0);
    connect(w->redraw_, &QTimer::timeout, w, [w] { w->Redraw(); });
    w->follow_ = new QTimer(w);
    w->follow_->setInterval(kFollowMs);
    connect(w->follow_, &QTimer::timeout, w, [w] { w->ReadNewRows(); });
    if (!w->file_.Info().Closed()) w->follow_->start();
    w->Redraw();
    return w;
}

QString CDataLogViewer::StatusText() const {
    const DataLogInfo& info = file_.Info();
    QString s = QStringLiteral("%1 rows").arg(file_.RowCount());
    if (!file_.Gaps().empty())
        s += QStringLiteral(", %1 communication gap(s)").arg(file_.Gaps().size());
    if (file_.ProblemCount() > 0) {
        const DataLogProblem& p = file_.Problems().front();
        s += QStringLiteral(", %1 problem(s) (first: line %2: %3)")
                 .arg(file_.ProblemCount())
                 .arg(p.line)
                 .arg(QString::fromStdString(p.what));
    }
    if (info.kind == DataLogKind::InternalLog)
        s += QStringLiteral("; internal log, dated from the file's time");
    else if (info.Closed())
        s += info.exitCommError ? QStringLiteral("; ended by a communication error")
                                : QStringLiteral("; the run is closed");
    else if (follow_ && follow_->isActive())
        s += QStringLiteral("; following the file as it grows");
    else
        s += QStringLiteral("; no closing lines (the run was cut short)");
    if (!followError_.isEmpty()) s += QStringLiteral("; ") + followError_;
    return s;
}

void CDataLogViewer::UpdateStatus() {
    if (status_) status_->setText(StatusText());
}

void CDataLogViewer::ScheduleRedraw() {
    if (redraw_) redraw_->start();
}

void CDataLogViewer::Redraw() {
    const int pixels = static_cast<int>(chart_->Chart()->plotArea().width());
    chart_->Rebuild(pixels > 10 ? pixels : std::max(view_->width() - 150, 200));
    UpdateStatus();
}

void CDataLogViewer::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    ScheduleRedraw();
}

void CDataLogViewer::ZoomTo(double from, double to) {
    chart_->SetRange(from, to);
    Redraw();
}

void CDataLogViewer::ZoomAround(double factor, double at) {
    const double from = chart_->From(), to = chart_->To();
    const double pivot = from + (to - from) * at;
    ZoomTo(pivot - (pivot - from) * factor, pivot + (to - pivot) * factor);
}

void CDataLogViewer::Pan(double fraction) {
    const double shift = (chart_->To() - chart_->From()) * fraction;
    ZoomTo(chart_->From() + shift, chart_->To() + shift);
}

void CDataLogViewer::ResetZoom() {
    chart_->ResetRange();
    Redraw();
}

void CDataLogViewer::SetColumnShown(size_t column, bool shown) {
    chart_->SetShown(column, shown);
    Redraw();
}

bool CDataLogViewer::ExportImage(const QString& path, QString& error) {
    return SaveChartImage(*view_, path, error);
}

bool CDataLogViewer::ExportShownCsv(const QString& path, QString& error) {
    TidyExportOptions o;
    for (size_t c = 0; c < file_.Info().columns.size(); ++c)
        if (chart_->Shown(c)) o.columns.push_back(c);
    if (o.columns.empty()) {
        error = QStringLiteral("No column is shown.");
        return false;
    }
    o.fromMs = static_cast<int64_t>(std::floor(chart_->From() * 1000.0));
    o.toMs = static_cast<int64_t>(std::ceil(chart_->To() * 1000.0));
    TidyExportResult r;
    std::string why;
    if (ExportTidyCsv(file_.Path(), path.toStdString(), o, r, why) != 0) {
        error = QString::fromStdString(why);
        return false;
    }
    return true;
}

void CDataLogViewer::ReadNewRows() {
    const double lastBefore = chart_->DataTo();
    const bool atEnd = chart_->To() >= lastBefore - 1e-6;
    const bool wasEmpty = file_.RowCount() == 0;
    std::string why;
    const long added = file_.Refresh(why);
    if (added < 0) {
        follow_->stop();
        followError_ = QString::fromStdString(why);
        UpdateStatus();
        return;
    }
    if (file_.Info().Closed()) follow_->stop();
    if (added > 0) {
        // A view that showed the newest rows keeps showing them.
        if (wasEmpty)
            chart_->ResetRange();
        else if (atEnd)
            chart_->SetRange(chart_->From(), chart_->DataTo());
        Redraw();
    }
    UpdateStatus();
}

}  // namespace tavrix
