#include "GuiTestBench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tavrix::test {

const std::array<QString, 12>& MonitorTitles() {
    static const std::array<QString, 12> titles = {
        "Channel A", "Channel B", "Channel C", "Channel D", "Channel E", "Channel F",
        "Channel G", "Channel H", "Heater 1",  "Heater 2",  "Analog 1",  "Analog 2"};
    return titles;
}

GuiBench::GuiBench() : GuiBench(Options{}) {}

GuiBench::GuiBench(Options options) {
    settings_ = std::make_unique<SettingsStore>(
        options.settingsFolder.empty() ? dir_.Str() : options.settingsFolder);
    sim_ = std::make_unique<SimulatedController>(options.modelCode);
    frame_ = std::make_unique<CMainFrame>(*settings_, MonitorTitles(), "qrc:/tavrix/help.html",
                                          options.qtDialogs ? nullptr : &op);
    if (options.asDesktopSim)
        sim_->AttachBeforeInitialUpdate(View());
    else
        View().Hub().Link().SetSerialDeviceOverride(sim_->PtyPath());
    if (options.beforeInitialUpdate) options.beforeInitialUpdate(View().Hub());
    View().OnInitialUpdate();
    if (options.asDesktopSim) sim_->AttachAfterInitialUpdate(View());
    // No events run here: a test may want the GUI thread to stay away from the workers.
    frame_->show();
    // Only the bar's own show, which waits for the main window's.
    QCoreApplication::sendPostedEvents(&Bar(), QEvent::MetaCall);
}

GuiBench::~GuiBench() {
    frame_.reset();
}

void GuiBench::PressConnect() {
    QTest::mouseClick(Bar().Button(1190), Qt::LeftButton);
    Pump(50);  // the posted request runs, then the bar's update
    frame_->RefreshCommandStates();
}

long long GuiBench::DestroyFrame() {
    QElapsedTimer t;
    t.start();
    frame_.reset();
    return t.elapsed();
}

void SaveGrab(QWidget& w, const QString& name) {
    QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
    const QString path = QString(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png";
    QVERIFY2(w.grab().save(path), qPrintable(path));
}

void SaveShown(QWidget& w, const QString& name) {
    w.show();
    w.adjustSize();
    Pump(30);
    SaveGrab(w, name);
}

void ChooseFile(QFileDialog* d, const QString& path) {
    const QFileInfo info(path);
    d->setDirectory(info.absolutePath());
    auto* nameEdit = d->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(nameEdit);
    PumpUntil(
        [&] {
            Pump(50);
            nameEdit->setText(info.fileName());
            Pump(20);
            const QStringList chosen = d->selectedFiles();
            return !chosen.isEmpty() &&
                   QFileInfo(chosen.first()).fileName().startsWith(info.fileName());
        },
        3000);
    static_cast<QDialog*>(d)->accept();
}

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
    } while (t.elapsed() < ms);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void FreshConfigFolder() {
    const QString dir = qEnvironmentVariable("TAVRIX_CONFIG_DIR");
    if (dir.isEmpty()) return;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

}  // namespace tavrix::test
