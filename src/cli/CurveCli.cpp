#include "CurveCli.h"

#include <CLI/CLI.hpp>

#include <signal.h>

#include <algorithm>
#include <cstdio>

#include "base/CNumeric.h"
#include "curves/CurveCommands.h"
#include "curves/CurveTexts.h"

namespace tavrix::cli {

namespace ct = curve_texts;

namespace {

void AddHeaderOptions(CLI::App* cmd, CurveCliOptions& o) {
    cmd->add_option("--name", o.answers.name, "Sensor name in the header editor");
    cmd->add_option("--type", o.answers.type, "Sensor type in the header editor");
    cmd->add_option("--multiplier", o.answers.multiplier, "Curve multiplier");
    cmd->add_option("--unit", o.unit, "Unit: Volts, mVolts, Ohms or LogOhms")
        ->check(CLI::IsMember({"Volts", "mVolts", "Ohms", "LogOhms"}));
}

bool Shown(const CliOperator& op, const char* text) {
    return std::find(op.shownTexts.begin(), op.shownTexts.end(), text) != op.shownTexts.end();
}

// A command that ended without its success message failed; say so once more on stderr.
int Outcome(const CliOperator& op, bool ok, const char* what) {
    if (ok) return 0;
    if (op.shownTexts.empty())
        std::fprintf(stderr, "tavrix-cli: %s did not run (instrument busy or a choice missing)\n",
                     what);
    return 1;
}

// SIGINT and SIGTERM while a table is open on the instrument: a line cut short, or a table never
// closed, would leave the instrument taking every later line as table data. The table is
// finished and its outcome reported first; then the program stops as the signal asks. Outside
// a table they stop the program at once, as always.
volatile sig_atomic_t gTableOpen = 0;
volatile sig_atomic_t gHeldSignal = 0;

void OnStopSignal(int sig) {
    if (gTableOpen) {
        gHeldSignal = sig;
        return;
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

void HoldStopsWhileTableOpen(bool open) {
    if (open) {
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        gTableOpen = 1;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        return;
    }
    gTableOpen = 0;
    if (const int sig = gHeldSignal) {
        std::fprintf(stderr, "tavrix-cli: %s: stopping now that the table is closed\n",
                     sig == SIGINT ? "SIGINT" : "SIGTERM");
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

int RunRead(const std::string& path) {
    SensorCurve c;
    const CurveReadResult r =
        IsCrvPath(path) ? SensorCurve::ReadCrvFile(path, c) : SensorCurve::Read340File(path, c);
    std::printf("result: %d\n", r);
    if (r != kCurveReadOk && r != kCurveReadFieldErrors) {
        StdoutLog log;
        ReportFileResult(log, r, c);
        return 1;
    }
    auto mark = [](bool e) { return e ? ct::kLogErrorMark : ""; };
    std::printf("name: %s\n", VisibleText(c.sensorName).c_str());
    std::printf("type: %s%s\n", VisibleText(c.sensorType).c_str(), mark(c.typeError));
    std::printf("multiplier: %s%s\n", FormatC("%f", static_cast<double>(c.multiplier)).c_str(),
                mark(c.multiplierError));
    std::printf("unit: %s%s\n", VisibleText(c.unitText).c_str(), mark(c.unitError));
    std::printf("unit code: %d\n", c.unitCode);
    std::printf("points: %u\n", c.PointCount());
    for (const CurvePoint& p : c.points) {
        std::printf(
            "%s%s\n",
            FormatC("%f %f", static_cast<double>(p.sensorValue), static_cast<double>(p.temperature))
                .c_str(),
            mark(p.lineError));
    }
    std::fflush(stdout);
    return r == kCurveReadOk ? 0 : 1;
}

int RunCheck(const std::string& path) {
    CliOperator op;
    StdoutLog log;
    int header = 0;
    const int n = CheckCurveFile(op, log, path, header);
    if (n == 0) return 1;
    std::printf("points: %d\nheader lines: %d\n", n, header);
    return 0;
}

}  // namespace

void AddCurveCommands(CLI::App& app, CurveCliOptions& o) {
    o.curve = app.add_subcommand("curve", "Sensor curve files and user curves");
    o.curve->require_subcommand(1);
    o.read = o.curve->add_subcommand("read", "Read a .crv or .340 file and list it");
    o.read->add_option("FILE", o.file, "The curve file")->required();
    o.check = o.curve->add_subcommand("check", "Pre-check a .crv file");
    o.check->add_option("FILE", o.file, "The curve file")->required();

    o.download = o.curve->add_subcommand("download", "Write a curve file into a user curve");
    o.download->add_option("FILE", o.file, "The .crv or .340 file")->required();
    o.download->add_option("--user-curve", o.answers.userCurve, "User curve 1..8")
        ->required()
        ->check(CLI::Range(1, 8));
    AddHeaderOptions(o.download, o);
    o.download->add_option("--save-crv", o.out, "Also save the edited curve as this .crv file");

    o.upload = o.curve->add_subcommand("upload", "Read a user curve into a .crv file");
    o.upload->add_option("--user-curve", o.answers.userCurve, "User curve 1..8")
        ->required()
        ->check(CLI::Range(1, 8));
    o.upload->add_option("OUT", o.out, "The file to write")->required();

    o.convert = o.curve->add_subcommand("convert", "Convert a .340 file into a .crv file");
    o.convert->add_option("IN", o.file, "The .340 file")->required();
    o.convert->add_option("OUT", o.out, "The .crv file to write")->required();
    AddHeaderOptions(o.convert, o);

    o.pid = app.add_subcommand("pid", "PID tables");
    o.pid->require_subcommand(1);
    o.pidDownload = o.pid->add_subcommand("download", "Write a .pid file into a PID table");
    o.pidDownload->add_option("FILE", o.file, "The .pid file")->required();
    o.pidDownload->add_option("--table", o.answers.pidTable, "PID table number")->required();
    o.pidUpload = o.pid->add_subcommand("upload", "Read a PID table into a .pid file");
    o.pidUpload->add_option("--table", o.answers.pidTable, "PID table number")->required();
    o.pidUpload->add_option("OUT", o.out, "The file to write")->required();
}

bool CurveCommandParsed(const CurveCliOptions& o) {
    return (o.curve && o.curve->parsed()) || (o.pid && o.pid->parsed());
}

bool CurveCommandIsFileOnly(const CurveCliOptions& o) {
    return o.read->parsed() || o.check->parsed() || o.convert->parsed();
}

int RunCurveCommand(const CurveCliOptions& opts, CliSession* session) {
    if (opts.read->parsed()) return RunRead(opts.file);
    if (opts.check->parsed()) return RunCheck(opts.file);

    CurveDialogAnswers a = opts.answers;
    if (!opts.unit.empty()) {
        for (int i = 0; i < 4; ++i)
            if (opts.unit == kUnitListEntries[i]) a.unitIndex = i;
    }
    if (opts.convert->parsed()) {
        CliOperator op;
        StdoutLog log;
        a.openFile = opts.file;
        a.saveFile = opts.out;
        op.curve = a;
        ConvertCurve(op, log);
        return Outcome(op, Shown(op, ct::kConvertedSaved), "conversion");
    }
    if (!session) return 1;
    CliOperator& op = session->op;
    CurveContext& ctx = *session->context;
    ctx.tableOpen = HoldStopsWhileTableOpen;
    if (opts.download->parsed()) {
        a.openFile = opts.file;
        if (!opts.out.empty()) {
            a.saveAsCrv = true;
            a.saveFile = opts.out;
        }
        op.curve = a;
        DownloadCurve(ctx);
        // A header field that cannot be sent is mended with the header options.
        for (const std::string& text : op.shownTexts)
            if (text.rfind(ct::kFieldName, 0) == 0 || text.rfind(ct::kFieldType, 0) == 0)
                std::fprintf(stderr, "tavrix-cli: give the field with --name or --type\n");
        return Outcome(op, Shown(op, ct::kDownloadComplete) && !Shown(op, ct::kErrorsDisplayed),
                       "curve download");
    }
    if (opts.upload->parsed()) {
        a.saveFile = opts.out;
        op.curve = a;
        UploadCurve(ctx);
        return Outcome(op, Shown(op, ct::kUploadComplete) && !Shown(op, ct::kFailedToCreateFile),
                       "curve upload");
    }
    if (opts.pidDownload->parsed()) {
        a.openFile = opts.file;
        op.curve = a;
        DownloadPidTable(ctx);
        return Outcome(op, Shown(op, ct::kDownloadComplete) && !Shown(op, ct::kErrorsDisplayed),
                       "PID table download");
    }
    if (opts.pidUpload->parsed()) {
        a.saveFile = opts.out;
        op.curve = a;
        UploadPidTable(ctx);
        return Outcome(op, Shown(op, ct::kUploadComplete) && !Shown(op, ct::kFailedToCreateFile),
                       "PID table upload");
    }
    return 1;
}

}  // namespace tavrix::cli
