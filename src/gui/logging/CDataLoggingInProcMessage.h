#pragma once

#include <QDialog>

namespace tavrix {

// The window shown while data logging runs. Created hidden with the view.
class CDataLoggingInProcMessage : public QDialog {
    Q_OBJECT
public:
    explicit CDataLoggingInProcMessage(QWidget* parent = nullptr);
};

}  // namespace tavrix
