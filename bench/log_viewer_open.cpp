// Opening a week of 0.1 s rows (6 048 000 rows, eight inputs and two heaters) in the log
// viewer: time to the first paint and resident memory, against a plain line-by-line parse of
// the same file into the same columns in this process; then a zoom in and back out.
// Usage: log_viewer_open [--rows N] [--file PATH]   (the file is made once and kept)
#include <malloc.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "SyntheticLog.h"
#include "logging/CDataLogViewer.h"

using namespace tavrix;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The baseline: std::getline, split at commas, strtod every value, the same columns kept.
struct PlainParse {
    std::vector<double> times;
    std::vector<std::vector<float>> values;
    void Read(const std::string& path) {
        std::ifstream in(path);
        std::string line;
        bool body = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!body) {
                body = line.rfind("Data logging started at", 0) == 0;
                continue;
            }
            if (line.empty() || line[0] < '0' || line[0] > '9') continue;
            size_t start = 0, col = 0;
            for (;;) {
                const size_t comma = line.find(',', start);
                const std::string field = line.substr(start, comma - start);
                if (col == 0) {
                    int h = 0, m = 0, s = 0;
                    std::sscanf(field.c_str(), "%d:%d:%d", &h, &m, &s);
                    times.push_back(h * 3600.0 + m * 60 + s);
                } else {
                    if (values.size() < col) values.resize(col);
                    values[col - 1].push_back(std::strtof(field.c_str(), nullptr));
                }
                ++col;
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    long rows = 7L * 86400 * 10;
    std::string path = "/tmp/tavrix-bench-week.csv";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--rows") rows = std::atol(argv[i + 1]);
        if (a == "--file") path = argv[i + 1];
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    // The file is kept between runs when it has the rows asked for.
    const std::string marker = path + ".rows";
    long made = 0;
    std::ifstream(marker) >> made;
    if (made != rows) {
        test::SyntheticLog s;
        s.rows = rows;
        s.interval = 0.1;
        s.gapAfterRow = rows / 2;
        const auto t = Clock::now();
        if (!test::WriteSyntheticLog(path, s)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::ofstream(marker) << rows;
        std::fprintf(stderr, "made %s (%ld rows) in %.1f s\n", path.c_str(), rows, Since(t));
    }
    struct stat st {};
    stat(path.c_str(), &st);
    const double fileMiB = static_cast<double>(st.st_size) / 1048576.0;
    bench::Figure("log_file_size", fileMiB, "MiB");

    // Both read the file from the page cache: one untimed read first.
    {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> buf(1 << 22);
        while (in.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
        }
    }

    double plainSeconds = 0;
    long plainKiB = 0;
    {
        malloc_trim(0);
        const long before = bench::ResidentKiB();
        const auto t = Clock::now();
        PlainParse p;
        p.Read(path);
        plainSeconds = Since(t);
        plainKiB = bench::ResidentKiB() - before;
        if (p.times.size() != static_cast<size_t>(rows)) {
            std::fprintf(stderr, "plain parse read %zu rows\n", p.times.size());
            return 1;
        }
    }
    malloc_trim(0);

    const long before = bench::ResidentKiB();
    const auto t = Clock::now();
    QString error;
    CDataLogViewer* v = CDataLogViewer::Open(QString::fromStdString(path), nullptr, error);
    if (!v) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    v->resize(1400, 800);
    v->show();
    QApplication::processEvents();
    v->View().viewport()->repaint();
    const double firstPaint = Since(t);
    const long viewerKiB = bench::ResidentKiB() - before;
    if (v->File().RowCount() != static_cast<size_t>(rows)) {
        std::fprintf(stderr, "viewer read %zu rows\n", v->File().RowCount());
        return 1;
    }
    bench::Figure("log_viewer_first_paint", firstPaint, "s", "plain line-by-line parse",
                  plainSeconds);
    bench::Figure("log_viewer_resident", viewerKiB / 1024.0, "MiB", "plain parse resident",
                  plainKiB / 1024.0);
    bench::Figure("log_viewer_resident_per_file_size", viewerKiB / 1024.0 / fileMiB, "x");
    bench::Figure("log_viewer_points_drawn_zoomed_out",
                  static_cast<double>(v->Chart().PointsDrawn()), "points");

    // Ten minutes in the middle of the week, every row drawn; then back to the whole week.
    const double mid = v->File().Times()[static_cast<size_t>(rows / 3)];
    auto z = Clock::now();
    v->ZoomTo(mid, mid + 600);
    v->View().viewport()->repaint();
    const double zoomIn = Since(z);
    bench::Figure("log_viewer_points_drawn_zoomed_in",
                  static_cast<double>(v->Chart().PointsDrawn()), "points");
    z = Clock::now();
    v->ResetZoom();
    v->View().viewport()->repaint();
    const double zoomOut = Since(z);
    bench::Figure("log_viewer_zoom_in", zoomIn, "s", "first paint", firstPaint);
    bench::Figure("log_viewer_zoom_out", zoomOut, "s", "first paint", firstPaint);
    delete v;
    return 0;
}
