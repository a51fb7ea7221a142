#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <string>

#include "charts/MonitorReading.h"
#include "charts/StripChartModel.h"

class QCategoryAxis;
class QChart;
class QChartView;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QRadioButton;
class QValueAxis;

namespace tavrix {

// A monitor window: one input's or output's readings over the last `length` samples, newest at
// the right, with automatic (widening only) or manual scaling of the value axis. The view gives
// it the monitor's title. Closing only hides it.
class CStripChart : public QDialog {
    Q_OBJECT
public:
    explicit CStripChart(int length, QWidget* parent = nullptr);

    int Length() const { return model_.PointCount(); }
    const StripChartModel& Model() const { return model_; }

    // A reading labelled with the local time ("%H:%M:%S").
    void AddReading(float value);
    // A reading with a given time label.
    void AddReading(float value, const std::string& timeLabel);
    void SetUnit(const std::string& unit);
    void SetName(const std::string& name);
    // Discards the readings ("Clear").
    void Clear();
    // A monitor reading labelled `timeLabel` (the local time when empty): a new unit starts a
    // fresh chart, a new name retitles it.
    void ApplyReading(const MonitorReading& reading, const std::string& timeLabel = {});

    // The context menu's "Save Image..." (PNG, or SVG by the name's extension) and "Copy Data"
    // (time and value as CSV text on the clipboard). false when the file could not be written.
    bool SaveImage(const QString& path);
    // The size of a saved image: the chart as shown, but no smaller than a page-wide figure.
    QSize ImageSize() const;
    void CopyData();

    QRadioButton* AutoButton() const { return auto_; }
    QRadioButton* ManualButton() const { return manual_; }
    QLineEdit* MaxEdit() const { return max_; }
    QLineEdit* MinEdit() const { return min_; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* ClearButton() const { return clear_; }
    QChart* Chart() const { return chart_; }
    QChartView* ChartView() const { return view_; }
    QLineSeries* Series() const { return series_; }
    QValueAxis* ValueAxis() const { return valueAxis_; }
    QCategoryAxis* TimeAxis() const { return timeAxis_; }

public slots:
    // The close box and Esc: the window's place goes to whoever keeps it, then it hides.
    void reject() override;

signals:
    // The title and the frame's rectangle on the screen, as the window is closed.
    void placeHandedBack(const QString& title, const QRect& frame);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void OnAuto();
    void OnManual();
    void OnApply();
    void Redraw(StripChartModel::Redraw what);
    void Rebuild();
    void PlaceValueMarks();
    // `width`: the width the chart is drawn at (the view's when < 0).
    void PlotPoints(int width = -1);
    void ShowFields();
    void UpdateFieldStates();
    void FilterTyping(QLineEdit* field, const QString& typed);

    StripChartModel model_;
    QRadioButton* auto_;
    QRadioButton* manual_;
    QLineEdit* max_;
    QLineEdit* min_;
    QPushButton* apply_;
    QPushButton* clear_;
    QChartView* view_;
    QChart* chart_;
    QLineSeries* series_;
    QValueAxis* valueAxis_;
    QCategoryAxis* timeAxis_;
};

}  // namespace tavrix
