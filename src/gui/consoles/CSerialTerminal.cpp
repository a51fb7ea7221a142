#include "consoles/CSerialTerminal.h"

namespace tavrix {

CSerialTerminal::CSerialTerminal(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Serial Terminal");
    setModal(false);
    setSizeGripEnabled(true);
    resize(480, 320);
}

}  // namespace tavrix
