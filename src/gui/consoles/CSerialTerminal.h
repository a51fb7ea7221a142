#pragma once

#include <QDialog>

namespace tavrix {

// The interactive terminal window. Created hidden with the view; closing only hides it.
class CSerialTerminal : public QDialog {
    Q_OBJECT
public:
    explicit CSerialTerminal(QWidget* parent = nullptr);
};

}  // namespace tavrix
