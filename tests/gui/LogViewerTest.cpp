// The log viewer on the offscreen platform: opened from the menu, columns hidden and shown from
// the legend, zoomed and panned, exported, and following a file that grows.
#include <QChart>
#include <QDateTimeAxis>
#include <QFile>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>
#include <fstream>

#include "GuiTestBench.h"
#include "SyntheticLog.h"
#include "app/Commands.h"
#include "logging/CDataLogViewer.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

std::string ReadAll(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

CDataLogViewer* ShownViewer() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* v = qobject_cast<CDataLogViewer*>(w); v && v->isVisible()) return v;
    return nullptr;
}

}  // namespace

class LogViewerTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    QString Path(const char* name) { return QString::fromStdString(dir_.Str() + "/" + name); }

private slots:
    void initTestCase() { FreshConfigFolder(); }

    // Three days of eight inputs and two heaters, from the Data Logging menu; pictures zoomed
    // out and in.
    void openedFromTheMenuShowsEveryColumnByUnit() {
        SyntheticLog s;
        s.rows = 3 * 86400 / 10;
        s.gapAfterRow = 12000;
        const QString path = Path("three-days.csv");
        QVERIFY(WriteSyntheticLog(path.toStdString(), s));
        GuiBench b;
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path.toStdString()));
        b.View().OnCommand(ID_LOG_OPEN);
        CDataLogViewer* v = ShownViewer();
        QVERIFY(v);
        v->resize(1200, 700);
        Pump(100);
        QCOMPARE(v->File().RowCount(), static_cast<size_t>(s.rows));
        QCOMPARE(v->File().Info().columns.size(), size_t{12});
        // K, % and the unitless ranges: three value axes.
        QCOMPARE(v->Chart().Chart()->axes(Qt::Vertical).size(), qsizetype{3});
        QVERIFY(v->Chart().ValueAxisOf(0) == v->Chart().ValueAxisOf(7));
        QVERIFY(v->Chart().ValueAxisOf(0) != v->Chart().ValueAxisOf(8));
        // Zoomed out, the lines are decimated; the gap breaks every line in two.
        QVERIFY(v->Chart().PointsDrawn() < 12 * s.rows / 2);
        QVERIFY(v->Chart().PointsDrawn() > 1000);
        QVERIFY(v->StatusText().contains("1 communication gap"));
        QVERIFY(v->StatusText().contains("the run is closed"));
        // One legend entry per column, also after a column was hidden and shown again.
        auto visibleMarkers = [&] {
            int n = 0;
            for (QLegendMarker* m : v->Chart().Chart()->legend()->markers())
                if (m->isVisible()) ++n;
            return n;
        };
        QCOMPARE(visibleMarkers(), 12);
        v->SetColumnShown(0, false);
        v->SetColumnShown(0, true);
        QCOMPARE(visibleMarkers(), 12);
        SaveGrab(*v, "log-viewer-three-days");

        // Zoomed in to twenty minutes: every row there is drawn.
        const double t0 = v->File().Times()[20000];
        v->ZoomTo(t0, t0 + 1200);
        Pump(50);
        const size_t rowsIn = 1200 / 10 + 1;
        QVERIFY(v->Chart().PointsDrawn() >= 12 * rowsIn);
        QVERIFY(v->Chart().PointsDrawn() <= 12 * (rowsIn + 2));
        // The value axis follows the data shown.
        QVERIFY(v->Chart().ValueAxisOf(0)->max() - v->Chart().ValueAxisOf(0)->min() < 100);
        SaveGrab(*v, "log-viewer-zoomed-in");
        v->close();
    }

    void legendClicksZoomPanAndExports() {
        SyntheticLog s;
        s.rows = 50000;
        s.interval = 1.0;
        s.inputs = 2;
        s.heaters = 1;
        const QString path = Path("small.csv");
        QVERIFY(WriteSyntheticLog(path.toStdString(), s));
        QString error;
        std::unique_ptr<CDataLogViewer> v(CDataLogViewer::Open(path, nullptr, error));
        QVERIFY2(v, qPrintable(error));
        v->setAttribute(Qt::WA_DeleteOnClose, false);
        v->resize(900, 500);
        v->show();
        Pump(100);

        // A click on a legend entry hides its column and a second one shows it again.
        QLegendMarker* marker = v->Chart().Chart()->legend()->markers(v->Chart().SeriesOf(1)).at(0);
        emit marker->clicked();
        QVERIFY(!v->Chart().Shown(1));
        QVERIFY(!v->Chart().SeriesOf(1)->isVisible());
        QVERIFY(marker->isVisible());
        emit marker->clicked();
        QVERIFY(v->Chart().Shown(1));

        // The wheel zooms the time around the pointer; the rows drawn follow the range.
        const double from = v->Chart().From(), to = v->Chart().To();
        const QRectF area = v->Chart().Chart()->plotArea();
        const QPointF at(area.left() + area.width() / 2, area.top() + area.height() / 2);
        QWheelEvent wheel(at, v->View().mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120 * 3),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(v->View().viewport(), &wheel);
        const double span = v->Chart().To() - v->Chart().From();
        QVERIFY(std::fabs(span - (to - from) * 0.512) < 1.0);
        QVERIFY(std::fabs((v->Chart().From() + span / 2) - (from + to) / 2) < 0.05 * (to - from));

        // A rubber band changes the axes: the lines are drawn again for the new time range and
        // the values keep the band's range.
        v->ResetZoom();
        const size_t before = v->Chart().PointsDrawn();
        QRectF band = v->Chart().Chart()->plotArea();
        band.setWidth(band.width() / 500);
        v->Chart().Chart()->zoomIn(band);
        QVERIFY(PumpUntil([&] { return v->Chart().PointsDrawn() != before; }, 2000));
        QVERIFY(!v->Chart().AutoValueRange());
        QVERIFY(v->Chart().To() - v->Chart().From() < (to - from) / 400);
        const QValueAxis* k = v->Chart().ValueAxisOf(0);
        const double kMin = k->min(), kMax = k->max();
        // Pan by a tenth with the arrow key: the range moves, its length stays.
        const double f0 = v->Chart().From(), len = v->Chart().To() - f0;
        QTest::keyClick(&v->View(), Qt::Key_Right);
        QVERIFY(std::fabs(v->Chart().From() - (f0 + len / 10)) < 1e-3);
        QCOMPARE(k->min(), kMin);
        QCOMPARE(k->max(), kMax);
        v->ResetZoom();
        QVERIFY(v->Chart().AutoValueRange());
        QCOMPARE(v->Chart().From(), v->File().Times().front());

        // Exports: the view as PNG and SVG, the shown columns of the range as CSV.
        QVERIFY2(v->ExportImage(Path("view.png"), error), qPrintable(error));
        QImage png(Path("view.png"));
        QCOMPARE(png.size(), v->View().size());
        QVERIFY2(v->ExportImage(Path("view.svg"), error), qPrintable(error));
        QVERIFY(ReadAll(Path("view.svg")).find("<svg") != std::string::npos);
        QVERIFY(!v->ExportImage(dir_.Str().c_str() + QString("/no/such/dir/x.png"), error));
        v->SetColumnShown(0, false);
        const double t = v->File().Times()[100];
        v->ZoomTo(t, t + 9);
        QVERIFY2(v->ExportShownCsv(Path("shown.csv"), error), qPrintable(error));
        const std::string csv = ReadAll(Path("shown.csv"));
        QVERIFY(csv.rfind("time,B_Input_B_K,heater1_Heater_1_pct,heater1_range\n", 0) == 0);
        QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 1 + 10);
    }

    void aGrowingFileIsFollowed() {
        SyntheticLog s;
        s.rows = 20;
        s.interval = 1.0;
        s.inputs = 1;
        s.heaters = 0;
        s.closed = false;
        const QString path = Path("growing.csv");
        QVERIFY(WriteSyntheticLog(path.toStdString(), s));
        QString error;
        std::unique_ptr<CDataLogViewer> v(CDataLogViewer::Open(path, nullptr, error));
        QVERIFY2(v, qPrintable(error));
        v->setAttribute(Qt::WA_DeleteOnClose, false);
        v->show();
        Pump(50);
        QVERIFY(v->StatusText().contains("following"));
        const double lastBefore = v->File().Times().back();
        {
            std::ofstream out(path.toStdString(), std::ios::binary | std::ios::app);
            out << "18:0:25,+5.5\r\n18:0:26,+5.6\r\n";
        }
        QVERIFY(
            PumpUntil([&] { return v->File().RowCount() == 22; }, 10 * CDataLogViewer::kFollowMs));
        // The view showed the newest rows, so it moves on with them.
        QCOMPARE(v->Chart().To(), lastBefore + 6);
        const QLineSeries* series = v->Chart().SeriesOf(0);
        QCOMPARE(series->points().last().x(), (lastBefore + 6) * 1000.0);
        QVERIFY(std::fabs(series->points().last().y() - 5.6) < 1e-5);
        {
            std::ofstream out(path.toStdString(), std::ios::binary | std::ios::app);
            out << "Number of entries = 22\r\nData logging terminated at 12/7/2026 18:0:30 \r\n";
        }
        QVERIFY(
            PumpUntil([&] { return v->File().Info().Closed(); }, 10 * CDataLogViewer::kFollowMs));
        QVERIFY(v->StatusText().contains("the run is closed"));
    }

    void aFileThatIsNotALogIsRefusedWithItsReason() {
        const QString path = Path("notes.txt");
        { std::ofstream(path.toStdString()) << "shopping list\n"; }
        GuiBench b;
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path.toStdString()));
        b.View().OnCommand(ID_LOG_OPEN);
        QVERIFY(!ShownViewer());
        QVERIFY(!b.op.MessageTexts().empty());
        QVERIFY(b.op.MessageTexts().back().find("not a data log") != std::string::npos);
    }
};

QTEST_MAIN(LogViewerTest)
#include "LogViewerTest.moc"
