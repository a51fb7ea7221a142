#pragma once

#include <QDialog>
#include <QWidget>

#include "calibration/CalibSession.h"

class QLabel;
class QPushButton;

namespace tavrix {

class CMNumericEdit;

// "Capturing Data in Progress": shown without modality while a page captures; no buttons.
class CCapturingDataDiag : public QDialog {
    Q_OBJECT
public:
    explicit CCapturingDataDiag(QWidget* parent = nullptr);
};

// One step of the calibration sheet, bound to its page in the session.
class CCalibPage : public QWidget {
    Q_OBJECT
public:
    CCalibPage(CalibSession& session, int index, QWidget* parent = nullptr);

    // Shows the page's values and control states.
    void Refresh();
    int Index() const { return index_; }

    // Controls by their resource ids (edits 1205, 1206, 1214, 1215; buttons 1200, 1201, 1220,
    // 1226, 1227; texts 1196, 1199, 1202, 1207, 1209, 1211, 1212, 1216).
    QWidget* Control(int id) const;
    CCapturingDataDiag* CapturingDialog() const { return capturing_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Leave(CMNumericEdit* edit);

    CalibSession& session_;
    int index_;
    QLabel *title_, *current_, *total_, *upperPrompt_, *lowerPrompt_;
    QLabel *capturedUpper_, *capturedLower_, *status_;
    CMNumericEdit *upperTarget_, *lowerTarget_, *gain_, *offset_;
    QPushButton *captureUpper_, *captureLower_, *abortUpper_, *abortLower_, *calibrate_;
    CCapturingDataDiag* capturing_;
    bool leaving_ = false;
};

}  // namespace tavrix
