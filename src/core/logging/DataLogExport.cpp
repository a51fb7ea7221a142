#include "logging/DataLogExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tavrix {

std::vector<std::string> TidyColumnNames(const std::vector<DataLogColumn>& columns) {
    std::vector<std::string> out;
    for (const DataLogColumn& c : columns) {
        std::string name = c.TidyName();
        if (name == "time") name = "time_value";
        std::string unique = name;
        for (int n = 2; std::find(out.begin(), out.end(), unique) != out.end(); ++n)
            unique = name + "_" + std::to_string(n);
        out.push_back(unique);
    }
    return out;
}

std::string TidyValue(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return {};
    double v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return {};
    return std::string(t);
}

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
}  // namespace

int ExportTidyCsv(const std::string& logPath, const std::string& outPath,
                  const TidyExportOptions& options, TidyExportResult& result, std::string& error) {
    result = {};
    DataLogParser parser(ReadOptionsFor(logPath));
    const std::string temp = outPath + ".part";
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(temp.c_str(), "wb"));
    if (!out) {
        error = temp + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<size_t> cols;
    bool headerWritten = false;
    std::string line;
    bool writeFailed = false;
    auto emit = [&](const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) writeFailed = true;
    };
    auto header = [&] {
        if (headerWritten) return;
        headerWritten = true;
        const auto& all = parser.Info().columns;
        cols = options.columns;
        if (cols.empty())
            for (size_t i = 0; i < all.size(); ++i) cols.push_back(i);
        const std::vector<std::string> names = TidyColumnNames(all);
        line = "time";
        for (size_t c : cols)
            if (c < names.size()) line += "," + names[c];
        line += "\n";
        emit(line);
    };
    parser.onRow = [&](const DataLogRow& r) {
        header();
        if (r.time.epochMs < options.fromMs || r.time.epochMs > options.toMs) return;
        line = FormatIsoTime(r.time);
        for (size_t c : cols) {
            line += ",";
            if (c < r.values->size()) line += TidyValue((*r.values)[c]);
        }
        line += "\n";
        emit(line);
        ++result.rows;
    };
    parser.onGapStart = [&](const DataLogGap& g) {
        header();
        if (g.from.epochMs < options.fromMs || g.from.epochMs > options.toMs) return;
        line = FormatIsoTime(g.from);
        line.append(cols.size(), ',');
        line += "\n";
        emit(line);
        ++result.gaps;
    };
    parser.onProblem = [&](const DataLogProblem& p) {
        ++result.problems;
        if (p.what.find("cannot be placed") != std::string::npos ||
            p.what.find("has no values") != std::string::npos)
            ++result.rowsLeftOut;
        if (result.firstProblems.size() < 20) result.firstProblems.push_back(p);
    };
    const bool ok = ParseDataLogFile(logPath, parser, error);
    if (ok) header();
    if (ok && !writeFailed && std::fflush(out.get()) != 0) writeFailed = true;
    if (ok && !writeFailed && ::fsync(fileno(out.get())) != 0) writeFailed = true;
    const int closeErr = std::fclose(out.release());
    if (ok && (writeFailed || closeErr != 0)) {
        error = temp + ": " + std::strerror(errno ? errno : EIO);
        ::unlink(temp.c_str());
        return -1;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return -1;
    }
    if (std::rename(temp.c_str(), outPath.c_str()) != 0) {
        error = outPath + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return -1;
    }
    return 0;
}

}  // namespace tavrix
