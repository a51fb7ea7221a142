#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <vector>

#include "logging/DataLogFile.h"
#include "plot/LogPlot.h"

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace tavrix {

// A data log drawn with Qt Charts: every column against time, one value axis per unit, each
// column's line broken where communication was lost. Long logs are drawn decimated to the
// lowest and highest value of each pixel column of the time range shown; once the range holds
// few enough rows, every row is drawn. The viewer window and `tavrix-cli plot` share it.
class LogChart : public QObject {
    Q_OBJECT
public:
    explicit LogChart(const DataLogFile& file, QObject* parent = nullptr);
    ~LogChart() override;

    // The chart; the caller's view takes ownership of it.
    QChart* Chart() const { return chart_; }

    // Which columns are drawn (all at first).
    void SetShown(size_t column, bool shown);
    bool Shown(size_t column) const { return shown_[column]; }
    // Time range shown, in seconds since 1970 (UTC).
    void SetRange(double from, double to);
    void ResetRange();
    double From() const { return from_; }
    double To() const { return to_; }
    // First and last row time of the file (0, 0 without rows).
    double DataFrom() const;
    double DataTo() const;
    // Value axes follow the data shown (true) or keep what a zoom set.
    void SetAutoValueRange(bool on) { autoY_ = on; }
    bool AutoValueRange() const { return autoY_; }

    // Draws the range for a plot area `pixels` wide; call after the file grew too.
    void Rebuild(int pixels);
    // Points drawn in all series after the last Rebuild (less than the rows when decimated).
    size_t PointsDrawn() const { return pointsDrawn_; }
    // The series of a column (its first segment) and its value axis, for tests and the legend.
    QLineSeries* SeriesOf(size_t column) const;
    QValueAxis* ValueAxisOf(size_t column) const;
    QDateTimeAxis* TimeAxis() const { return timeAxis_; }
    size_t ColumnOf(QLineSeries* s) const;

signals:
    // The time range was changed from the chart (rubber band, scroll).
    void rangeChangedByChart();

private:
    void MakeSeries();
    void OnAxisRange();

    const DataLogFile& file_;
    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    std::map<QString, QValueAxis*> unitAxes_;
    // Per column, one series per stretch between gaps.
    std::vector<std::vector<QLineSeries*>> series_;
    std::vector<bool> shown_;
    size_t madeForGaps_ = SIZE_MAX;
    double from_ = 0, to_ = 0;
    bool autoY_ = true;
    bool updating_ = false;
    size_t pointsDrawn_ = 0;
};

// Renders a chart view's content to `path` (.png or .svg by the suffix); false with `error`.
bool SaveChartImage(class QWidget& view, const QString& path, QString& error);

}  // namespace tavrix
