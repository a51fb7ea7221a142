#pragma once

#include <QChartView>
#include <QMainWindow>
#include <memory>

#include "logging/DataLogFile.h"
#include "plot/LogChart.h"

class QLabel;
class QTimer;
class QAction;

namespace tavrix {

// The chart of the viewer: rubber-band zoom (right click zooms out), the wheel zooms the time
// around the pointer, a middle-button drag or the arrow keys pan.
class LogChartView : public QChartView {
    Q_OBJECT
public:
    using QChartView::QChartView;

signals:
    void wheelZoom(double factor, double atFraction);
    void pan(double fraction);

protected:
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    bool panning_ = false;
    double panX_ = 0;
};

// A data log in a plot window: every column against time, one value axis per unit; a click
// on a legend entry hides or shows its column. A file still being written is followed.
class CDataLogViewer : public QMainWindow {
    Q_OBJECT
public:
    // Opens `path` in a new window (not yet shown); null with `error` when the file is refused.
    static CDataLogViewer* Open(const QString& path, QWidget* parent, QString& error);

    DataLogFile& File() { return file_; }
    LogChart& Chart() { return *chart_; }
    LogChartView& View() { return *view_; }
    QString StatusText() const;

    void ZoomTo(double from, double to);
    void ZoomAround(double factor, double atFraction);
    void Pan(double fraction);
    void ResetZoom();
    void SetColumnShown(size_t column, bool shown);
    // The view as PNG or SVG (by the suffix); the shown columns in the time range as CSV.
    bool ExportImage(const QString& path, QString& error);
    bool ExportShownCsv(const QString& path, QString& error);
    // Reads rows added to the file since (the follow timer calls it every second).
    void ReadNewRows();
    static constexpr int kFollowMs = 1000;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    explicit CDataLogViewer(QWidget* parent);
    void Redraw();
    void ScheduleRedraw();
    void UpdateStatus();

    DataLogFile file_;
    std::unique_ptr<LogChart> chart_;
    LogChartView* view_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* follow_ = nullptr;
    QTimer* redraw_ = nullptr;
    QString followError_;
};

}  // namespace tavrix
