#include "LogFileCli.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#include "logging/DataLogExport.h"
#include "logging/DataLogFile.h"
#ifdef TAVRIX_HAVE_PLOT
#include "plot/LogPlot.h"
#endif

namespace tavrix::cli {

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tavrix-cli: %s\n", what.c_str());
    return 1;
}

int RunExport(const LogFileCliOptions& o) {
    TidyExportOptions options;
    if (!o.sources.empty() || !o.from.empty() || !o.to.empty()) {
        DataLogParser header(ReadOptionsFor(o.log));
        std::string error;
        // The columns are known once the header is read; reading the whole file is cheap
        // next to the export itself.
        if (!ParseDataLogFile(o.log, header, error)) return Fail(error);
        if (!o.sources.empty() &&
            !SelectColumns(header.Info().columns, o.sources, options.columns, error))
            return Fail(error);
        if (!o.from.empty() && !ParseTimeArgument(o.from, options.fromMs))
            return Fail("--from: \"" + o.from +
                        "\" is not a time (use ISO 8601 or M/D/YYYY H:M:S)");
        if (!o.to.empty() && !ParseTimeArgument(o.to, options.toMs))
            return Fail("--to: \"" + o.to + "\" is not a time (use ISO 8601 or M/D/YYYY H:M:S)");
    }
    TidyExportResult r;
    std::string error;
    if (ExportTidyCsv(o.log, o.out, options, r, error) != 0) return Fail(error);
    for (const DataLogProblem& p : r.firstProblems)
        std::fprintf(stderr, "tavrix-cli: %s line %zu: %s\n", o.log.c_str(), p.line,
                     p.what.c_str());
    if (r.problems > r.firstProblems.size())
        std::fprintf(stderr, "tavrix-cli: ... %zu more problem(s)\n",
                     r.problems - r.firstProblems.size());
    std::fprintf(stderr, "tavrix-cli: %zu row(s) and %zu gap(s) written to %s\n", r.rows, r.gaps,
                 o.out.c_str());
    if (r.rowsLeftOut > 0)
        return Fail(std::to_string(r.rowsLeftOut) +
                    " row(s) could not be placed in time and were left out");
    return 0;
}

int RunPlot(const LogFileCliOptions& o) {
#ifdef TAVRIX_HAVE_PLOT
    LogPlotRequest r{o.log, o.out, o.sources, o.width, o.height, o.from, o.to};
    std::string error;
    if (RenderLogPlot(r, error) != 0) return Fail(error);
    return 0;
#else
    return Fail("this build has no plotting (it was built without the desktop program)");
#endif
}

}  // namespace

void AddLogFileCommands(CLI::App& app, LogFileCliOptions& o) {
    o.exportCmd = app.add_subcommand(
        "export",
        "Write a data log (or an uploaded internal log) as a tidy CSV: a \"time\" column in ISO "
        "8601 with milliseconds and the UTC offset, then one column per source named with its "
        "name and unit (A_Sample_K); a loss of communication is a line with empty values");
    o.exportCmd->add_option("LOG", o.log, "The data log file")->required();
    o.exportCmd->add_option("--out", o.out, "The tidy CSV file to write")->required();
    o.exportCmd->add_option("--sources", o.sources,
                            "Comma-separated columns to write (A, heater1, heater1_range, "
                            "setpoint1, ... or tidy names); default: all");
    o.exportCmd->add_option("--from", o.from,
                            "Only rows from this time (ISO 8601, or M/D/YYYY H:M:S local time)");
    o.exportCmd->add_option("--to", o.to, "Only rows up to this time");

    o.plot = app.add_subcommand(
        "plot",
        "Draw a data log as the log viewer does, into a PNG or SVG file, without a display");
    o.plot->add_option("LOG", o.log, "The data log file")->required();
    o.plot->add_option("--out", o.out, "The image: FILE.png or FILE.svg")->required();
    o.plot->add_option("--sources", o.sources, "Comma-separated columns to draw; default: all");
    o.plot->add_option("--width", o.width, "Width in pixels (default 1200)");
    o.plot->add_option("--height", o.height, "Height in pixels (default 700)");
    o.plot->add_option("--from", o.from,
                       "Start of the time range (ISO 8601, or M/D/YYYY H:M:S local time)");
    o.plot->add_option("--to", o.to, "End of the time range");
}

bool LogFileCommandParsed(const LogFileCliOptions& o) {
    return (o.exportCmd && o.exportCmd->parsed()) || (o.plot && o.plot->parsed());
}

int RunLogFileCommand(const LogFileCliOptions& o) {
    return o.exportCmd->parsed() ? RunExport(o) : RunPlot(o);
}

}  // namespace tavrix::cli
