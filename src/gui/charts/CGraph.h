#pragma once

#include <QDialog>

#include "charts/GraphModel.h"

class QChart;
class QChartView;

namespace tavrix {

// The x-y graph window: the lines of a GraphModel with its title and axis texts, drawn over the
// whole window. The header editor shows it modally for "Display Curve".
class CGraph : public QDialog {
    Q_OBJECT
public:
    explicit CGraph(GraphModel model, QWidget* parent = nullptr);

    const GraphModel& Model() const { return model_; }
    // Null when the model could not be drawn (its message was shown instead).
    QChart* Chart() const { return chart_; }
    QChartView* ChartView() const { return view_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Build();

    GraphModel model_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QString problem_;
    bool problemShown_ = false;
};

}  // namespace tavrix
