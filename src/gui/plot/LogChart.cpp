#include "plot/LogChart.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tavrix {

namespace {

// Distinct line colours, in column order.
QColor ColumnColour(size_t i) {
    static const QColor colours[] = {
        QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
        QColor(0x94, 0x67, 0xbd), QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b),
        QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf), QColor(0x7f, 0x7f, 0x7f),
        QColor(0xbc, 0xbd, 0x22), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x00, 0x00)};
    return colours[i % (sizeof colours / sizeof colours[0])];
}

QString UnitTitle(const std::string& unit) {
    return unit.empty() ? QStringLiteral("(no unit)") : QString::fromStdString(unit);
}

}  // namespace

LogChart::LogChart(const DataLogFile& file, QObject* parent)
    : QObject(parent), file_(file), chart_(new QChart), timeAxis_(new QDateTimeAxis) {
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setTitle(QFileInfo(QString::fromStdString(file.Path())).fileName());
    timeAxis_->setTitleText(QStringLiteral("Time"));
    timeAxis_->setTickCount(7);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    shown_.assign(file.Info().columns.size(), true);
    // Many columns: the legend goes beside the chart, one entry a line, so no name is cut.
    if (shown_.size() > 6) chart_->legend()->setAlignment(Qt::AlignRight);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] { OnAxisRange(); });
    MakeSeries();
    ResetRange();
}

LogChart::~LogChart() = default;

double LogChart::DataFrom() const {
    return file_.Times().empty() ? 0.0 : file_.Times().front();
}

double LogChart::DataTo() const {
    return file_.Times().empty() ? 0.0 : file_.Times().back();
}

void LogChart::ResetRange() {
    from_ = DataFrom();
    to_ = DataTo();
    if (to_ <= from_) to_ = from_ + 1.0;
    autoY_ = true;
}

void LogChart::SetRange(double from, double to) {
    if (!(to > from)) to = from + 0.001;
    from_ = from;
    to_ = to;
}

void LogChart::SetShown(size_t column, bool shown) {
    if (column >= shown_.size()) return;
    shown_[column] = shown;
    for (QLineSeries* s : series_[column]) s->setVisible(shown);
    // One legend entry per column: the stretches after the first have none.
    for (size_t k = 1; k < series_[column].size(); ++k)
        for (QLegendMarker* m : chart_->legend()->markers(series_[column][k])) m->setVisible(false);
    // A hidden series keeps its legend entry, dimmed, so that a click brings it back.
    if (!series_[column].empty()) {
        const auto markers = chart_->legend()->markers(series_[column].front());
        for (QLegendMarker* m : markers) {
            m->setVisible(true);
            QColor c = m->labelBrush().color();
            c.setAlphaF(shown ? 1.0 : 0.35);
            m->setLabelBrush(c);
        }
    }
}

QLineSeries* LogChart::SeriesOf(size_t column) const {
    return column < series_.size() && !series_[column].empty() ? series_[column].front() : nullptr;
}

QValueAxis* LogChart::ValueAxisOf(size_t column) const {
    const auto& cols = file_.Info().columns;
    if (column >= cols.size()) return nullptr;
    const auto it = unitAxes_.find(UnitTitle(cols[column].unit));
    return it == unitAxes_.end() ? nullptr : it->second;
}

size_t LogChart::ColumnOf(QLineSeries* s) const {
    for (size_t c = 0; c < series_.size(); ++c)
        if (std::find(series_[c].begin(), series_[c].end(), s) != series_[c].end()) return c;
    return SIZE_MAX;
}

void LogChart::MakeSeries() {
    const auto& cols = file_.Info().columns;
    for (auto& list : series_)
        for (QLineSeries* s : list) {
            chart_->removeSeries(s);
            delete s;
        }
    series_.assign(cols.size(), {});
    // One value axis per unit, alternating left and right.
    for (size_t c = 0; c < cols.size(); ++c) {
        const QString unit = UnitTitle(cols[c].unit);
        if (unitAxes_.count(unit)) continue;
        auto* axis = new QValueAxis;
        axis->setTitleText(unit);
        axis->setLabelFormat(QStringLiteral("%.6g"));
        chart_->addAxis(axis, unitAxes_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
        unitAxes_[unit] = axis;
    }
    const size_t stretches = file_.Gaps().size() + 1;
    for (size_t c = 0; c < cols.size(); ++c) {
        for (size_t k = 0; k < stretches; ++k) {
            auto* s = new QLineSeries;
            s->setName(QString::fromStdString(cols[c].Label()));
            QPen pen(ColumnColour(c));
            pen.setWidthF(1.2);
            s->setPen(pen);
            chart_->addSeries(s);
            s->attachAxis(timeAxis_);
            s->attachAxis(unitAxes_[UnitTitle(cols[c].unit)]);
            // One legend entry per column.
            if (k > 0)
                for (QLegendMarker* m : chart_->legend()->markers(s)) m->setVisible(false);
            series_[c].push_back(s);
        }
    }
    madeForGaps_ = file_.Gaps().size();
    for (size_t c = 0; c < cols.size(); ++c) SetShown(c, shown_[c]);
}

void LogChart::OnAxisRange() {
    if (updating_) return;
    const double from = static_cast<double>(timeAxis_->min().toMSecsSinceEpoch()) / 1000.0;
    const double to = static_cast<double>(timeAxis_->max().toMSecsSinceEpoch()) / 1000.0;
    if (std::fabs(from - from_) < 1e-3 && std::fabs(to - to_) < 1e-3) return;
    from_ = from;
    to_ = to;
    emit rangeChangedByChart();
}

void LogChart::Rebuild(int pixels) {
    if (file_.Gaps().size() != madeForGaps_) MakeSeries();
    updating_ = true;
    const auto& times = file_.Times();
    const auto& gaps = file_.Gaps();
    std::vector<size_t> picked;
    std::map<QValueAxis*, std::pair<double, double>> ranges;
    pointsDrawn_ = 0;
    const int columns = std::max(pixels, 50);
    for (size_t c = 0; c < series_.size(); ++c) {
        const std::vector<float>& values = file_.Values(c);
        QValueAxis* axis = ValueAxisOf(c);
        for (size_t k = 0; k < series_[c].size(); ++k) {
            QLineSeries* s = series_[c][k];
            const size_t begin = k == 0 ? 0 : std::min(gaps[k - 1].beforeRow, times.size());
            const size_t end =
                k < gaps.size() ? std::min(gaps[k].beforeRow, times.size()) : times.size();
            QList<QPointF> points;
            if (shown_[c] && end > begin) {
                DecimateMinMax(times, values, begin, end, from_, to_, columns, picked);
                points.reserve(static_cast<qsizetype>(picked.size()));
                for (size_t i : picked) {
                    points.append(QPointF(times[i] * 1000.0, values[i]));
                    if (times[i] >= from_ && times[i] <= to_) {
                        auto [it, fresh] = ranges.try_emplace(axis, values[i], values[i]);
                        if (!fresh) {
                            it->second.first = std::min<double>(it->second.first, values[i]);
                            it->second.second = std::max<double>(it->second.second, values[i]);
                        }
                    }
                }
            }
            pointsDrawn_ += static_cast<size_t>(points.size());
            s->replace(points);
        }
    }
    timeAxis_->setRange(
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(from_ * 1000))),
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(to_ * 1000))));
    const double span = to_ - from_;
    // Marks on round times where the span allows it (a whole run of rows stamped to the
    // second does): 4 s of rows get a mark each second, not every 0.667 s.
    const int marks = TimeMarkCount(span);
    timeAxis_->setTickCount(marks);
    const double step = marks > 1 ? span / (marks - 1) : span;
    const bool wholeSeconds = std::fabs(from_ - std::round(from_)) < 1e-3 &&
                              std::fabs(step - std::round(step)) < 1e-3 && step >= 1.0;
    timeAxis_->setFormat(span > 2 * 86400 ? QStringLiteral("MM-dd hh:mm")
                         : span > 120     ? QStringLiteral("MM-dd hh:mm:ss")
                         : span > 5 || wholeSeconds ? QStringLiteral("hh:mm:ss")
                                                    : QStringLiteral("hh:mm:ss.zzz"));
    for (auto& [unit, axis] : unitAxes_) {
        bool any = false;
        for (size_t c = 0; c < series_.size(); ++c)
            if (shown_[c] && ValueAxisOf(c) == axis) any = true;
        axis->setVisible(any);
        if (!autoY_) continue;
        const auto it = ranges.find(axis);
        if (it == ranges.end()) continue;
        double lo = it->second.first, hi = it->second.second;
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(std::fabs(hi) * 0.05, 0.5);
        axis->setRange(lo - pad, hi + pad);
        axis->applyNiceNumbers();
    }
    updating_ = false;
}

bool SaveChartImage(QWidget& view, const QString& path, QString& error) {
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(view.size());
        svg.setViewBox(QRect(QPoint(0, 0), view.size()));
        svg.setTitle(QStringLiteral("Data log"));
        QPainter p;
        if (!p.begin(&svg)) {
            error = QStringLiteral("cannot write ") + path;
            return false;
        }
        view.render(&p);
        if (!p.end()) {
            error = QStringLiteral("cannot write ") + path;
            return false;
        }
        if (QFileInfo(path).size() == 0) {
            error = QStringLiteral("cannot write ") + path;
            return false;
        }
        return true;
    }
    if (!view.grab().save(path, "PNG")) {
        error = QStringLiteral("cannot write ") + path;
        return false;
    }
    return true;
}

int RenderLogPlot(const LogPlotRequest& request, std::string& error) {
    const QString out = QString::fromStdString(request.outPath);
    if (!out.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !out.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        error = "the plot file must end in .png or .svg";
        return -1;
    }
    if (request.width < 100 || request.height < 100 || request.width > 20000 ||
        request.height > 20000) {
        error = "the plot's width and height must lie between 100 and 20000 pixels";
        return -1;
    }
    DataLogFile file;
    if (!file.Open(request.logPath, error)) return -1;
    std::vector<size_t> chosen;
    if (!request.sources.empty() &&
        !SelectColumns(file.Info().columns, request.sources, chosen, error))
        return -1;

    // Drawn without a display.
    std::unique_ptr<QApplication> app;
    if (!QApplication::instance()) {
        // The offscreen platform's notes (no runtime folder, no size hints) are not the
        // operator's business; errors still show.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "tavrix-cli: %s\n", qPrintable(msg));
        });
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tavrix-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        std::setlocale(LC_NUMERIC, "C");
    }
    LogChart chart(file);
    if (!chosen.empty())
        for (size_t c = 0; c < file.Info().columns.size(); ++c)
            chart.SetShown(c, std::find(chosen.begin(), chosen.end(), c) != chosen.end());
    double from = chart.DataFrom(), to = chart.DataTo();
    int64_t ms = 0;
    if (!request.from.empty()) {
        if (!ParseTimeArgument(request.from, ms)) {
            error =
                "--from: \"" + request.from + "\" is not a time (use ISO 8601 or M/D/YYYY H:M:S)";
            return -1;
        }
        from = static_cast<double>(ms) / 1000.0;
    }
    if (!request.to.empty()) {
        if (!ParseTimeArgument(request.to, ms)) {
            error = "--to: \"" + request.to + "\" is not a time (use ISO 8601 or M/D/YYYY H:M:S)";
            return -1;
        }
        to = static_cast<double>(ms) / 1000.0;
    }
    if (!(to > from)) {
        if (!request.from.empty() || !request.to.empty()) {
            error = "the plot's time range is empty (--to must lie after --from)";
            return -1;
        }
        to = from + 1.0;
    }
    chart.SetRange(from, to);
    QChartView view(chart.Chart());
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(request.width, request.height);
    chart.Rebuild(request.width);
    view.show();
    QApplication::processEvents();
    QString why;
    if (!SaveChartImage(view, out, why)) {
        error = why.toStdString();
        return -1;
    }
    return 0;
}

}  // namespace tavrix
