#pragma once

#include <sys/types.h>
#include <QRect>
#include <QString>
#include <QTest>

class QWidget;

namespace tavrix::test {

// A private X display with a real window manager for GUI tests that depend on window frames,
// stacking and focus: Xvfb on a display number of its own (Xvfb picks a free one) and openbox
// on it, both started here, waited for and torn down with this object. They also end when the
// test process dies. Start it before QApplication exists and point Qt at it with
// UseForQt(); when it cannot start, the suite runs offscreen and every test skips with
// SkipMessage().
class WindowManagerDisplay {
public:
    WindowManagerDisplay() = default;
    ~WindowManagerDisplay();
    WindowManagerDisplay(const WindowManagerDisplay&) = delete;
    WindowManagerDisplay& operator=(const WindowManagerDisplay&) = delete;

    // Starts Xvfb (1280x1024) and openbox; false with Error() set when either does not come up
    // within `timeoutMs`.
    bool Start(int timeoutMs = 20000);
    void Stop();
    bool Running() const { return running_; }
    // ":N"
    QString Display() const { return display_; }
    QString Error() const { return error_; }
    QString SkipMessage() const;

    // Sets DISPLAY and QT_QPA_PLATFORM=xcb when running, QT_QPA_PLATFORM=offscreen otherwise.
    void UseForQt() const;

    // The one process-wide instance of a suite that uses the macro below.
    static WindowManagerDisplay*& Current();

private:
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
    bool running_ = false;
    QString display_;
    QString error_;
    QString scratch_;
};

// Skips the calling test when the suite has no window manager.
#define TAVRIX_REQUIRE_WINDOW_MANAGER()                                                        \
    do {                                                                                       \
        auto* wm_ = ::tavrix::test::WindowManagerDisplay::Current();                           \
        if (!wm_ || !wm_->Running())                                                           \
            QSKIP(qPrintable(wm_ ? wm_->SkipMessage() : QString("no window manager set up"))); \
    } while (0)

// Waits (pumping events) until the window manager has framed `w`: it is exposed and its frame
// is larger than its client area. false after `ms`.
bool WaitForFrame(QWidget& w, int ms = 5000);
// Waits until `w`'s frame rectangle stops changing (the window manager has placed it).
QRect SettledFrame(QWidget& w, int ms = 3000);
// The whole screen of the private display, as the window manager stacked it.
bool SaveScreen(const QString& name);

}  // namespace tavrix::test

// A main() for a Qt Test suite that needs a window manager: the display starts first, then
// QApplication on it.
#define TAVRIX_WINDOW_MANAGER_TEST_MAIN(TestObject)                              \
    int main(int argc, char** argv) {                                            \
        ::tavrix::test::WindowManagerDisplay display;                            \
        ::tavrix::test::WindowManagerDisplay::Current() = &display;              \
        if (!display.Start()) qWarning("%s", qPrintable(display.SkipMessage())); \
        display.UseForQt();                                                      \
        int status = 0;                                                          \
        {                                                                        \
            QApplication app(argc, argv);                                        \
            ::tavrix::CVoduradApp::FixNumericLocale();                           \
            app.setAttribute(Qt::AA_Use96Dpi, true);                             \
            TestObject tc;                                                       \
            QTEST_SET_MAIN_SOURCE_PATH                                           \
            status = QTest::qExec(&tc, argc, argv);                              \
        }                                                                        \
        display.Stop();                                                          \
        ::tavrix::test::WindowManagerDisplay::Current() = nullptr;               \
        return status;                                                           \
    }
