// tavrix-cli: the operations of the desktop program, scriptable from a shell.
#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>

#include "CalGenCli.h"
#include "CalibrationCli.h"
#include "CliSession.h"
#include "ConsoleCli.h"
#include "CurveCli.h"
#include "LogFileCli.h"
#include "LoggingCli.h"
#include "PortsCli.h"
#include "ShareCli.h"

using namespace tavrix;
using tavrix::cli::CliSession;

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tavrix-cli: %s\n", what.c_str());
    return 1;
}

int ExchangeFailed(const char* what, int status) {
    return Fail(std::string(what) + " failed (status " + std::to_string(status) + ": " +
                CInstrumentLink::StatusText(status) + ")");
}

int RunIdentify(CliSession& s) {
    ConnectAndIdentify(*s.context);
    const auto bar = s.bar.Get();
    std::printf("model: %s\n", VisibleText(bar.modelText).c_str());
    std::printf("version: %s\n", VisibleText(bar.versionText).c_str());
    // Only what was learnt from the instrument: without a model code, or for a code without a
    // row of its own, the counts would be the placeholder row's, not the instrument's.
    const bool connected = bar.ledIndex == kStateConnected;
    if (connected && s.link->ModelCode() != 0) {
        std::printf("model code: %d\n", s.link->ModelCode());
        std::printf("family: %d\n", s.features.GetFamily());
    }
    if (connected && s.features.AnyInstrument()) {
        std::printf("inputs: %d\n", s.features.InputCount());
        std::printf("loops: %d\n", s.features.LoopCount());
    }
    std::printf("status: %s\n", VisibleText(bar.statusWord).c_str());
    std::fflush(stdout);
    if (bar.ledIndex != kStateConnected)
        return Fail("identification failed: " + VisibleText(bar.modelText));
    return 0;
}

// Why nothing could reach an instrument, when the transport itself is missing: a serial port
// that never opened, a GPIB driver library that could not be loaded. Empty otherwise.
std::string UnusableTransport(CliSession& s) {
    CInstrumentLink& link = *s.link;
    if (link.GetPortType() == kPortRs232) {
        const CCommPort* port = link.SerialPort();
        if (port && !port->BusyText().empty()) return port->BusyText() + ": nothing was sent";
        if (!port || !port->IsOpen())
            return "serial port COM" + std::to_string(link.CommPortIndex() + 1) + " (" +
                   link.SerialDevicePath(link.CommPortIndex() + 1) + ") could not be opened" +
                   (port && !port->OpenError().empty() ? " (" + port->OpenError() + ")" : "") +
                   ": nothing was sent";
    } else if (link.GetPortType() == kPortGpib && !link.GpibLibrary().Loaded()) {
        return "GPIB driver library " + link.GpibLibrary().LibraryPath() +
               " could not be loaded: nothing was sent";
    }
    return {};
}

// Holds SessionMutex as every exchange of the program does.
int RunExchange(CliSession& s, const std::string& text, bool expectReply) {
    SessionLock lock(s.mutex, 1000);
    if (expectReply && !CInstrumentLink::IsQuery(text))
        return Fail("\"" + text + "\" is not a query (it needs a \"?\" after its first character)");
    std::string reply;
    const int status = s.link->Transact(&text, expectReply ? &reply : nullptr, 0);
    if (const std::string problem = UnusableTransport(s); !problem.empty()) return Fail(problem);
    if (status != 0) return ExchangeFailed(expectReply ? "query" : "command", status);
    if (expectReply) {
        const std::string shown = VisibleText(reply);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}

int RunTable(CliSession& s, const std::string& text, int lines) {
    SessionLock lock(s.mutex, 1000);
    std::string reply;
    const int n = s.link->FetchTable(lines, "Receiving table", &text, &reply);
    const std::string shown = VisibleLines(reply);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fflush(stdout);
    if (const std::string problem = UnusableTransport(s); !problem.empty()) return Fail(problem);
    if (n < 0) return ExchangeFailed("table transfer", n);
    std::fprintf(stderr, "tavrix-cli: %d line(s) received\n", n);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    // A closed pipe or terminal is a failed write to handle, never the end of the process.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app{
        "tavrix-cli: talk to a temperature controller or monitor over RS232, GPIB or LAN.\n"
        "Without a transport option the stored communication settings decide."};
    app.require_subcommand(1);

    cli::TransportOptions t;
    int simModel = 28;
    auto* simOpt = app.add_option("--sim", simModel,
                                  "Use a simulated controller inside this process "
                                  "(model code 27..32; default 28)")
                       ->expected(0, 1)
                       ->default_str("28");
    app.add_option("--sim-transport", t.simTransport,
                   "How to reach the simulated controller: serial (a pseudo-terminal) or lan")
        ->check(CLI::IsMember({"serial", "lan"}));
    auto* serialOpt = app.add_option("--serial", t.serialDevice,
                                     "RS232: the serial device to open, e.g. /dev/ttyUSB0");
    app.add_option("--baud", t.baud,
                   "RS232 speed: 115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200");
    auto* gpibOpt = app.add_option("--gpib", t.gpibAddress, "GPIB: the primary address 0..31");
    app.add_flag("--gpib-eoi", t.gpibEoi,
                 "GPIB: a reply ends with the piece that carries END (EOI on its last byte) "
                 "instead of a read timing out (as the setting [GPIB] EndOnEOI=1)");
    auto* lanOpt = app.add_option("--lan", t.lan, "LAN: HOST:PORT of the instrument");
    app.add_flag("--lan-ack", t.lanAck,
                 "LAN: the instrument acknowledges each command line (tavrix-sim --ack), so "
                 "refused lines are marked");
    simOpt->excludes(serialOpt)->excludes(gpibOpt)->excludes(lanOpt);
    serialOpt->excludes(gpibOpt)->excludes(lanOpt);
    gpibOpt->excludes(lanOpt);

    auto* identify = app.add_subcommand(
        "identify", "Connect and identify the instrument (\"*IDN?\", \"SYST:IDEF?\")");

    std::string queryText;
    auto* query = app.add_subcommand("query", "Send a query and print its reply line");
    query->add_option("TEXT", queryText, "The query, e.g. \"INP A:TEMP?\"")->required();

    std::string commandText;
    auto* command = app.add_subcommand("command", "Send a command that has no reply");
    command->add_option("TEXT", commandText, "The command line")->required();

    std::string tableText;
    int tableLines = 0;
    auto* table = app.add_subcommand(
        "table",
        "Send a command whose reply is a table ended by a \";\" line; print it as received");
    table->add_option("--lines", tableLines, "Number of lines expected (for the progress)")
        ->required()
        ->check(CLI::PositiveNumber);
    table->add_option("TEXT", tableText, "The command, e.g. \"CALC? 1\"")->required();

    cli::CalGenCliOptions calgenOptions;
    auto* calgen = cli::AddCalGenCommand(app, calgenOptions);

    cli::CurveCliOptions curveOptions;
    cli::AddCurveCommands(app, curveOptions);

    cli::LoggingCliOptions loggingOptions;
    cli::AddLoggingCommands(app, loggingOptions);
    cli::ShareCliOptions serveOptions;
    cli::AddServeCommand(app, serveOptions);

    cli::ConsoleCliOptions consoleOptions;
    cli::AddConsoleCommands(app, consoleOptions);
    cli::CalibrationCliOptions calibrationOptions;
    cli::AddCalibrationCommands(app, calibrationOptions);

    auto* ports = cli::AddPortsCommand(app);
    cli::LogFileCliOptions logFileOptions;
    cli::AddLogFileCommands(app, logFileOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (simOpt->count() > 0) t.simModel = simModel;
    // Curve generation works on files alone: no link is opened.
    if (calgen->parsed()) return cli::RunCalGen(calgenOptions);
    if (ports->parsed()) return cli::RunPorts();
    // Data log files: no link either.
    if (cli::LogFileCommandParsed(logFileOptions)) return cli::RunLogFileCommand(logFileOptions);

    // Curve files and their conversion need no instrument.
    if (cli::CurveCommandParsed(curveOptions) && cli::CurveCommandIsFileOnly(curveOptions))
        return cli::RunCurveCommand(curveOptions, nullptr);

    // Before any thread starts, so that only the waiting loop takes them.
    if (cli::LoggingCommandParsed(loggingOptions)) cli::BlockStopSignals();
    if (serveOptions.serve->parsed()) {
        // Taken by sigwait in the serving loop; blocked before any thread starts.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    CliSession session;
    if (!session.Open(t, !identify->parsed())) return 1;
    if (cli::LoggingCommandParsed(loggingOptions))
        return cli::RunLoggingCommand(loggingOptions, session);
    if (serveOptions.serve->parsed()) return cli::RunServe(serveOptions, session);
    if (cli::CurveCommandParsed(curveOptions)) return cli::RunCurveCommand(curveOptions, &session);
    if (cli::CalibrationCommandParsed(calibrationOptions))
        return cli::RunCalibrationCommand(calibrationOptions, session);

    if (cli::ConsoleCommandParsed(consoleOptions))
        return cli::RunConsoleCommand(consoleOptions, session,
                                      [&session] { return UnusableTransport(session); });
    if (identify->parsed()) return RunIdentify(session);
    if (query->parsed()) return RunExchange(session, queryText, true);
    if (command->parsed()) return RunExchange(session, commandText, false);
    if (table->parsed()) return RunTable(session, tableText, tableLines);
    return 1;
}
