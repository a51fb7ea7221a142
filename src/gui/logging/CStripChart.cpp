#include "logging/CStripChart.h"

namespace tavrix {

CStripChart::CStripChart(int length, QWidget* parent) : QDialog(parent), length_(length) {
    setWindowTitle("Strip Chart");
    setSizeGripEnabled(true);
    setModal(false);
    resize(380, 260);
}

}  // namespace tavrix
