#include "charts/CGraph.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include "base/DialogFrame.h"

#include "base/MessageBoxes.h"

namespace tavrix {

namespace {
// 390 x 194 dialog units of the program's dialog font.
constexpr int kWidth = 585;
constexpr int kHeight = 316;
constexpr int kMinWidth = 420;
constexpr int kMinHeight = 260;

// A range that always has some width, so a flat line still gets an axis.
void SetAxisRange(QValueAxis* axis, float lo, float hi) {
    if (!(lo <= hi)) lo = hi = 0.0f;
    if (lo == hi) {
        const float pad = lo == 0.0f ? 1.0f : std::abs(lo) * 0.1f;
        lo -= pad;
        hi += pad;
    }
    axis->setRange(lo, hi);
    axis->applyNiceNumbers();
}
}  // namespace

CGraph::CGraph(GraphModel model, QWidget* parent) : QDialog(parent), model_(std::move(model)) {
    // The window is named after what it draws, never left to a placeholder.
    const std::string title = model_.ShownTitle();
    setWindowTitle(title.empty() ? QString("Curve") : QString::fromStdString(title));
    setSizeGripEnabled(true);
    // Below this the axis labels and titles no longer fit.
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QChartView(this);
    view_->setObjectName("graphView");
    view_->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(view_);
    problem_ = QString::fromStdString(model_.CheckBeforeShow());
    if (problem_.isEmpty()) Build();
    ModalDialogFrame(*this);
}

void CGraph::Build() {
    chart_ = new QChart;
    // Chart texts are rich text to Qt; the curve's texts are shown as they are.
    chart_->setTitle(QString::fromStdString(model_.ShownTitle()).toHtmlEscaped());
    chart_->setBackgroundBrush(palette().color(QPalette::Button));
    chart_->legend()->hide();

    auto* x = new QValueAxis;
    x->setLabelFormat("%g");
    x->setTitleText(QString::fromStdString(model_.ShownXLabel()).toHtmlEscaped());
    auto* y = new QValueAxis;
    y->setLabelFormat("%g");
    y->setTitleText(QString::fromStdString(model_.ShownYLabel()).toHtmlEscaped());
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);

    float xLo = std::numeric_limits<float>::max(), xHi = std::numeric_limits<float>::lowest();
    float yLo = xLo, yHi = xHi;
    for (const GraphModel::Line& line : model_.Lines()) {
        auto* series = new QLineSeries;
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(line.x.size()));
        for (size_t i = 0; i < line.x.size(); ++i) {
            points.append(QPointF(line.x[i], line.y[i]));
            xLo = std::min(xLo, line.x[i]);
            xHi = std::max(xHi, line.x[i]);
            yLo = std::min(yLo, line.y[i]);
            yHi = std::max(yHi, line.y[i]);
        }
        series->replace(points);
        chart_->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    }
    SetAxisRange(x, xLo, xHi);
    SetAxisRange(y, yLo, yHi);
    // The view hands back its default chart instead of deleting it.
    QChart* defaultChart = view_->chart();
    view_->setChart(chart_);
    if (defaultChart != chart_) delete defaultChart;
}

void CGraph::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!problem_.isEmpty() && !problemShown_) {
        problemShown_ = true;
        ShowMessageBox(this, problem_, MessageIcon::Stop);
    }
}

}  // namespace tavrix
