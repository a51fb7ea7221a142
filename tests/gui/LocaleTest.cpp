// The program under a comma-decimal locale: Qt adopts the user's locale, the program's C
// formatting and scanning must still use a decimal point.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTest>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "GuiTestBench.h"
#include "app/CVoduradApp.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

std::string g_locale;  // the comma locale in use, empty when none could be had

bool IsCommaLocale(const char* name) {
    if (!std::setlocale(LC_ALL, name)) return false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    std::setlocale(LC_ALL, "C");
    return std::string(buf) == "1,5";
}

// An installed comma locale, or one compiled into the build folder.
std::string FindCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "de_DE"})
        if (IsCommaLocale(name)) return name;
    const QString dir = QString(TAVRIX_GUI_TEST_WORK_DIR) + "/locales";
    QDir().mkpath(dir);
    const std::string target = (dir + "/de_DE.UTF-8").toStdString();
    if (!QDir(QString::fromStdString(target)).exists()) {
        const std::string cmd = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0 && !QDir(QString::fromStdString(target)).exists())
            return {};
    }
    setenv("LOCPATH", dir.toLocal8Bit().constData(), 1);
    return IsCommaLocale("de_DE.UTF-8") ? "de_DE.UTF-8" : "";
}

}  // namespace

class LocaleTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        if (g_locale.empty())
            QSKIP("no comma-decimal locale is installed and localedef could not make one");
    }

    void cFormattingSurvivesTheUsersLocale() {
        // Qt took the user's locale for its own use ...
        QCOMPARE(QLocale::system().decimalPoint(), QString(","));
        // ... while the C library's numbers stay with a point.
        char buf[32];
        std::snprintf(buf, sizeof buf, "%f", 1.5);
        QCOMPARE(std::string(buf), std::string("1.500000"));
        QCOMPARE(std::strtod("2.5", nullptr), 2.5);
        double v = 0;
        QCOMPARE(std::sscanf("3.25", "%lf", &v), 1);
        QCOMPARE(v, 3.25);
    }

    void startUpReadsTheIntervalAndIdentifiesTheSimulator() {
        FreshConfigFolder();
        {
            SettingsStore settings(SettingsStore::DefaultFolder());
            QVERIFY(settings.WriteString(settings::kLog, settings::kInterval, "2.5"));
        }
        ScriptedOperator op;
        CVoduradApp app;
        CVoduradApp::Options options;
        options.simulate = true;
        options.simModel = 27;
        QVERIFY(app.InitInstance(options, &op));
        ViewHub& hub = app.MainFrame()->View()->Hub();
        QCOMPARE(hub.LoggingInterval(), 2.5);
        hub.Execute(ID_CONNECT);
        Pump(20);
        QCOMPARE(hub.Bar().Get().statusWord, std::string("Connected"));
        QCOMPARE(hub.Link().ModelCode(), 27);
    }
};

int main(int argc, char** argv) {
    g_locale = FindCommaLocale();
    if (!g_locale.empty()) setenv("LC_ALL", g_locale.c_str(), 1);
    auto app = CVoduradApp::MakeQApplication(argc, argv);
    LocaleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LocaleTest.moc"
