#pragma once

#include <QDialog>
#include <array>

#include "link/LinkDialogs.h"

class QLineEdit;
class QPushButton;

namespace tavrix {

// "Edit IP Address": the server's IPv4 address as four octet fields and its TCP port.
class CIPEdit : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPortMin = 0;
    static constexpr int kPortMax = 10000;

    explicit CIPEdit(const IpAddressChoice& preset, QWidget* parent = nullptr);

    // Valid after the dialog ended with Connect.
    IpAddressChoice Choice() const { return choice_; }
    QLineEdit* Octet(int i) const { return octets_[static_cast<size_t>(i)]; }
    QLineEdit* PortEdit() const { return port_; }
    QPushButton* ConnectButton() const { return connect_; }

    // The message shown for a port outside the range ("" when the text is fine).
    static QString CheckPort(const QString& text, int* value);

private:
    void OnConnect();

    std::array<QLineEdit*, 4> octets_{};
    QLineEdit* port_;
    QPushButton* connect_;
    IpAddressChoice choice_;
};

}  // namespace tavrix
