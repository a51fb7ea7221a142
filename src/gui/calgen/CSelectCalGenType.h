#pragma once

#include <QDialog>

#include "calgen/CalGenTypeSelection.h"

class QComboBox;
class QPushButton;

namespace tavrix {

// "Select CalGen Type": the shortcut bar's choice of a generation command. The number of points
// only matters for a diode, so that list is greyed for the other sensor types.
class CSelectCalGenType : public QDialog {
    Q_OBJECT
public:
    explicit CSelectCalGenType(QWidget* parent = nullptr);

    // -1 until the dialog ended with Accept; then wParam and lParam of WM_CALGEN_REQUEST.
    int SensorType() const { return model_.sensorType; }
    int Points() const { return model_.points; }

    QComboBox* SensorTypeList() const { return sensor_; }
    QComboBox* PointsList() const { return points_; }
    QPushButton* AcceptButton() const { return accept_; }

private:
    CalGenTypeSelection model_;
    QComboBox* sensor_;
    QComboBox* points_;
    QPushButton* accept_;
};

}  // namespace tavrix
