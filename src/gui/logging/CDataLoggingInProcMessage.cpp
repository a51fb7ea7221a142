#include "logging/CDataLoggingInProcMessage.h"

namespace tavrix {

CDataLoggingInProcMessage::CDataLoggingInProcMessage(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Data Logging");
    setModal(false);
    resize(300, 120);
}

}  // namespace tavrix
