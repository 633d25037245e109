#include "tester/app/tester_main.h"

#include <cstdio>
#include <memory>

#include "platform/dynlib.h"
#include "platform/stop_request.h"
#include "tester/config/configuration.h"
#include "tester/demo/demo_ports.h"
#include "tester/demo/device_server.h"
#include "tester/app/command_line.h"
#include "tester/app/console_platform.h"
#include "tester/batch/batch_run.h"
#include "tester/report/history_store.h"
#include "tester/report/history_table.h"
#include "tester/report/interval_log.h"
#include "tester/report/metrics_file.h"
#include "tester/report/run_spool.h"
#include "tester/version/version.h"

namespace {

// The network pair needs the device server (built with the library's
// codec) and the library itself where the tester will look for it. Loading
// it here is what the tester's first network port would do anyway; it is
// never unloaded.
bool NetworkPairPossible() {
    return demo::DeviceServerAvailable() && plat::loadLibrary("qelnet") != nullptr;
}

// The words the program was started with, quoted where the platform's
// shell would need it, so that the line can be run again as it stands in
// the records.
std::string CommandLineText(const std::vector<std::string>& args) {
    std::string text = "vesktest";
    for (const std::string& arg : args)
        text += ' ' + ShellQuoted(arg);
    return text;
}

std::string VersionText() {
    return std::to_string(versionMajor) + "." + std::to_string(versionMinor) + "." +
           std::to_string(versionPatch) + "." + std::to_string(versionBuild);
}

// --history: the past runs of the database as a table.
int ShowHistory(const CommandLine& line, RunHistory& history) {
    HistoryQuery query;
    query.unit = line.unit;
    query.sinceMs = line.sinceMs;
    HistoryReport report;
    std::string error;
    if (!history.Read(query, report, error)) {
        std::fprintf(stderr, "vesktest: cannot read the history database %s: %s\n",
                     history.Where().c_str(), error.c_str());
        return kBatchHistoryFailed;
    }
    std::fputs(FormatHistory(query, report).c_str(), stdout);
    return 0;
}

}  // namespace

int RunVesktest(const std::vector<std::string>& args) {
    PrepareConsoleProcess();
    const CommandLineResult parsed = ParseCommandLine(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "vesktest: %s\nTry 'vesktest --help' for more information.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const CommandLine& line = parsed.line;
    if (line.help) {
        std::fputs(UsageText(PlatformName(), kConsoleFeatures).c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s\n", ProgramTitle(PlatformName()).c_str());
        return 0;
    }

    // From here on a stop request ends an unattended run in order, however
    // early it comes: the ports not yet tested are said to be so.
    if (line.batch) plat::catchStopRequests();

    std::unique_ptr<RunHistory> history;
    if (!line.dbUrl.empty()) {
        std::string error;
        history = MakeRunHistory(line.dbUrl, error);
        if (!history) {
            std::fprintf(stderr, "vesktest: %s\nTry 'vesktest --help' for more information.\n",
                         error.c_str());
            return kExitUsage;
        }
    }
    if (line.history) return ShowHistory(line, *history);
    if (line.import) return ImportRecords(line.importFiles, *history, stdout, stderr);

    std::unique_ptr<demo::DemoPorts> ports;
    if (line.demo) {
        demo::DemoPorts::Options options;
        options.pairs = line.demoPairs;
        options.networkPair = NetworkPairPossible();
        std::string error;
        ports = demo::DemoPorts::Create(options, error);
        if (!ports) {
            std::fprintf(stderr, "vesktest: %s\n", error.c_str());
            return kExitCannotStart;
        }
        if (line.keepDemo) ports->KeepDirectory();
        SetConfigPath(ports->ConfigPath().c_str());
    } else {
        SetConfigPath(line.configPath.c_str());
    }

    // The interval log, for --log and for the samples of --html.
    std::unique_ptr<IntervalLog> log;
    if (!line.logPath.empty() || !line.htmlPath.empty()) {
        log.reset(new IntervalLog(line.intervalSeconds, !line.htmlPath.empty()));
        std::string error;
        if (!line.logPath.empty() && !log->OpenFile(line.logPath, error)) {
            std::fprintf(stderr, "vesktest: cannot open the log '%s': %s\n", line.logPath.c_str(),
                         error.c_str());
            return kExitUsage;
        }
    }

    // The metrics, for node_exporter's textfile collector: its problems
    // are told as they come (by the front end in its own way), once.
    std::unique_ptr<MetricsFile> metrics;
    if (!line.metricsPath.empty())
        metrics.reset(new MetricsFile(
            line.metricsPath, line.intervalSeconds,
            MetricLabels{line.station.empty() ? StationName() : line.station, line.unit}));

    int code;
    if (line.batch) {
        BatchOptions options;
        options.seconds = line.batchSeconds;
        options.pairs = line.pairs;
        options.lines = line.lines;
        options.reportPath = line.reportPath;
        options.progress = OutputIsConsole();
        options.stopRequested = plat::stopRequested;
        options.log = log.get();
        options.metrics = metrics.get();
        options.htmlPath = line.htmlPath;
        options.programTitle = ProgramTitle(PlatformName());
        options.drainLimitMs = line.drainSeconds * 1000u;
        options.checkRate = line.checkRate;
        options.checkFlow = line.checkFlow;
        options.checkBreak = line.checkBreak;
        options.checkParity = line.checkParity;
        options.sweepRates = line.sweepRates;
        options.probe = !line.noProbe;
        options.wiring = line.wiring;
        options.stallMs = line.stallSeconds * 1000u;
        options.outputs.tags = {line.unit, line.station.empty() ? StationName() : line.station,
                                line.operatorName};
        options.outputs.version = VersionText();
        options.outputs.commandLine = CommandLineText(ArgsForRecords(args));
        options.outputs.jsonPath = line.jsonPath;
        options.outputs.junitPath = line.junitPath;
        options.outputs.history = history.get();
        options.outputs.spoolFolder = SpoolFolder();
        // Said now rather than after a night's run; the run goes on, and
        // its end tries again (the server may be back by then).
        std::string why;
        if (history && !history->Check(why))
            std::fprintf(stderr,
                         "vesktest: the history database %s cannot take runs now: %s; the test "
                         "runs all the same and tries again at its end\n",
                         history->Where().c_str(), why.c_str());
        code = RunBatch(options, stdout, stderr);
    } else {
        code = RunFrontEnd(log.get(), metrics.get());
    }
    if (ports && line.keepDemo)
        std::fprintf(stderr, "vesktest: the demo's configuration is kept in %s\n",
                     ports->ConfigPath().c_str());
    return code;
}
