#pragma once

#include <QDialog>

namespace tavrix {

// A monitor window: one input's or output's readings over the last `length` samples. The view
// gives it the monitor's title. Closing only hides it.
class CStripChart : public QDialog {
    Q_OBJECT
public:
    explicit CStripChart(int length, QWidget* parent = nullptr);
    int Length() const { return length_; }

private:
    int length_;
};

}  // namespace tavrix
