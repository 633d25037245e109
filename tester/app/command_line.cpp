#include "tester/app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tester/batch/rate_check.h"
#include "tester/report/run_record.h"
#include "tester/report/secret_text.h"
#include "tester/session/settings_form.h"

namespace {

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// A decimal number from `low` to `high`; false for anything else (signs,
// blanks, trailing text and overflow included).
bool ReadBounded(const std::string& text, uint32_t low, uint32_t high, uint32_t& value) {
    if (!AllDigits(text) || text.size() > 10) return false;
    const unsigned long long v = std::stoull(text);
    if (v < low || v > high) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool IsOptionWord(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

// Splits "--name=value" into name and value.
void SplitInline(const std::string& word, std::string& name, std::string& value, bool& hasValue) {
    const size_t eq = word.find('=');
    hasValue = word.compare(0, 2, "--") == 0 && eq != std::string::npos;
    name = hasValue ? word.substr(0, eq) : word;
    value = hasValue ? word.substr(eq + 1) : std::string();
}

// "9600,19200,115200": speeds the settings form would take, each once, at
// most kMaxSweepRates of them. An empty text on success, else why not.
std::string ReadSweepRates(const std::string& list, std::vector<uint32_t>& rates) {
    const uint32_t low = static_cast<uint32_t>(PortSettingsForm::kMinBaudRate);
    const uint32_t high = static_cast<uint32_t>(PortSettingsForm::kMaxBaudRate);
    size_t from = 0;
    for (;;) {
        const size_t comma = list.find(',', from);
        const std::string item =
            list.substr(from, comma == std::string::npos ? comma : comma - from);
        uint32_t rate = 0;
        if (item.empty()) return "--sweep has an empty speed in '" + list + "'";
        if (!ReadBounded(item, low, high, rate))
            return "--sweep takes speeds from " + std::to_string(low) + " to " +
                   std::to_string(high) + " bit/s separated by commas, not '" + item + "'";
        if (std::find(rates.begin(), rates.end(), rate) != rates.end())
            return "--sweep lists " + item + " twice";
        rates.push_back(rate);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (rates.size() > kMaxSweepRates)
        return "--sweep takes at most " + std::to_string(kMaxSweepRates) + " speeds, not " +
               std::to_string(rates.size());
    return "";
}

// One option word of the command line, with the means to take its value:
// inline ("--name=value") or the next word.
class OptionWord {
  public:
    OptionWord(const std::vector<std::string>& args, size_t& i)
        : word(args[i]), args_(args), i_(i) {
        SplitInline(word, name, value_, hasValue);
    }

    bool TakeValue(std::string& out) {
        if (hasValue) {
            out = value_;
            return true;
        }
        if (i_ + 1 >= args_.size()) return false;
        out = args_[++i_];
        return true;
    }

    // A number of seconds from 1 to `most`; "" or why not.
    std::string TakeSeconds(uint32_t most, uint32_t& out) {
        std::string seconds;
        if (!TakeValue(seconds)) return name + " needs a number of seconds";
        if (!ReadBounded(seconds, 1, most, out))
            return name + " takes a number of seconds from 1 to " + std::to_string(most) +
                   ", not '" + seconds + "'";
        return "";
    }

    std::string TakeFile(std::string& out) {
        return TakeValue(out) && !out.empty() ? "" : name + " needs a file name";
    }

    // A count that may follow the option as the next word, when it is one.
    bool TakeOptionalCount(std::string& out) {
        if (hasValue) {
            out = value_;
            return true;
        }
        if (i_ + 1 < args_.size() && AllDigits(args_[i_ + 1])) {
            out = args_[++i_];
            return true;
        }
        return false;
    }

    std::string word, name;
    bool hasValue = false;

  private:
    const std::vector<std::string>& args_;
    size_t& i_;
    std::string value_;
};

// An option word as messages and records show it: the value of
// "--name=value" with its passwords masked, or the word so masked.
std::string Masked(const std::string& word) {
    const size_t eq = word.find('=');
    if (word.compare(0, 2, "--") != 0 || eq == std::string::npos) return MaskSecrets(word);
    return word.substr(0, eq + 1) + MaskSecrets(word.substr(eq + 1));
}

// A switch that takes no value: true when `w` is it.
bool Switch(const OptionWord& w, const char* option) {
    return w.name == option && !w.hasValue;
}

// The options of the test itself. Sets `known` when the word is one of
// them; "" or why its value is refused.
std::string ReadTestOption(OptionWord& w, CommandLine& line, bool& known) {
    known = true;
    const std::string& name = w.name;
    if (name == "--demo") {
        line.demo = true;
        std::string count;
        if (w.TakeOptionalCount(count) && !ReadBounded(count, 1, kMaxDemoPairs, line.demoPairs))
            return "--demo takes a number of pairs from 1 to " + std::to_string(kMaxDemoPairs) +
                   ", not '" + count + "'";
        return "";
    }
    if (name == "--batch") {
        line.batch = true;
        return w.TakeSeconds(kMaxBatchSeconds, line.batchSeconds);
    }
    if (name == "--drain") return w.TakeSeconds(kMaxDrainSeconds, line.drainSeconds);
    if (name == "--stall") return w.TakeSeconds(kMaxStallSeconds, line.stallSeconds);
    if (name == "--wiring") {
        std::string text, why;
        if (!w.TakeValue(text) || text.empty())
            return "--wiring needs pairs, loop or a map of links such as 1-2,3-3,4-6";
        ParseWiringDeclaration(text, line.wiring, why);
        return why;
    }
    if (name == "--sweep") {
        std::string list;
        if (!w.TakeValue(list) || list.empty())
            return "--sweep needs a list of speeds, as 9600,19200,115200";
        line.sweepRates.clear();
        return ReadSweepRates(list, line.sweepRates);
    }
    const std::pair<const char*, bool*> switches[] = {{"--keep-demo", &line.keepDemo},
                                                      {"--pairs", &line.pairs},
                                                      {"--lines", &line.lines},
                                                      {"--check-rate", &line.checkRate},
                                                      {"--no-probe", &line.noProbe},
                                                      {"--check-flow", &line.checkFlow},
                                                      {"--check-break", &line.checkBreak},
                                                      {"--check-parity", &line.checkParity}};
    for (const auto& [option, flag] : switches)
        if (Switch(w, option)) {
            *flag = true;
            return "";
        }
    known = false;
    return "";
}

// The options of what the run leaves behind: files, tags, the history.
std::string ReadRecordOption(OptionWord& w, CommandLine& line, bool& known) {
    known = true;
    const std::string& name = w.name;
    if (name == "--report") return w.TakeFile(line.reportPath);
    if (name == "--log") return w.TakeFile(line.logPath);
    if (name == "--html") return w.TakeFile(line.htmlPath);
    if (name == "--metrics") return w.TakeFile(line.metricsPath);
    if (name == "--json") return w.TakeFile(line.jsonPath);
    if (name == "--junit") return w.TakeFile(line.junitPath);
    if (name == "--interval") {
        line.intervalGiven = true;
        return w.TakeSeconds(kMaxIntervalSeconds, line.intervalSeconds);
    }
    if (name == "--unit" || name == "--station" || name == "--operator") {
        std::string& tag = name == "--unit"      ? line.unit
                           : name == "--station" ? line.station
                                                 : line.operatorName;
        if (!w.TakeValue(tag) || tag.empty())
            return name + (name == "--unit" ? " needs a serial number" : " needs a name");
        return "";
    }
    if (name == "--db") {
        // One run, one history: a second --db would leave the run in only
        // one of them without a word.
        if (!line.dbUrl.empty()) return "--db is given twice; a run keeps one history database";
        if (!w.TakeValue(line.dbUrl) || line.dbUrl.empty())
            return "--db needs a database: sqlite:FILE, postgresql://HOST/DATABASE or "
                   "odbc:CONNECTION-STRING";
        return "";
    }
    if (Switch(w, "--history")) {
        line.history = true;
        return "";
    }
    if (Switch(w, "--import")) {
        line.import = true;
        return "";
    }
    if (name == "--since") {
        std::string date;
        if (!w.TakeValue(date) || !ParseUtcTime(date, line.sinceMs))
            return "--since takes a UTC date or time, as 2026-05-01 or 2026-05-01T06:00:00Z, not "
                   "'" +
                   date + "'";
        return "";
    }
    known = false;
    return "";
}

std::string ReadOption(OptionWord& w, CommandLine& line) {
    if (w.name == "-h" || w.name == "--help") {
        line.help = true;
        return "";
    }
    if (Switch(w, "--version")) {
        line.version = true;
        return "";
    }
    bool known = false;
    std::string why = ReadTestOption(w, line, known);
    if (!known) why = ReadRecordOption(w, line, known);
    return known ? why : "unknown option '" + Masked(w.word) + "'";
}

// The import takes the database and the records' files, nothing else.
std::string CheckImportAlone(const CommandLine& line) {
    if (line.dbUrl.empty()) return "--import needs --db: the database to add the records to";
    if (line.importFiles.empty()) return "--import needs the records' files (RECORD.json...)";
    if (line.history || line.batch || line.demo || !line.unit.empty() || !line.station.empty() ||
        !line.operatorName.empty() || !line.jsonPath.empty() || !line.junitPath.empty() ||
        line.sinceMs >= 0)
        return "--import takes --db and the records' files alone";
    return "";
}

// The history reader takes the database and its filters, nothing of a run.
std::string CheckHistoryAlone(const CommandLine& line) {
    if (line.dbUrl.empty()) return "--history needs --db: the database to read";
    if (line.batch || line.demo || !line.configPath.empty())
        return "--history only reads the database: no test, no configuration";
    if (!line.station.empty() || !line.operatorName.empty() || !line.jsonPath.empty() ||
        !line.junitPath.empty() || !line.metricsPath.empty())
        return "--history takes --db, --unit and --since alone";
    return "";
}

// Options that only mean something beside another one; "" or the first
// that stands alone.
std::string CheckCombinations(const CommandLine& line) {
    if (line.sinceMs >= 0) return "--since belongs with --history";
    if (line.demo && !line.configPath.empty())
        return "--demo writes a configuration of its own; give no configuration path with it";
    if (line.keepDemo && !line.demo) return "--keep-demo belongs with --demo";
    // The unit and the station label the metrics of the front end too.
    for (const auto& [given, option] : {std::make_pair(!line.unit.empty(), "--unit"),
                                        std::make_pair(!line.station.empty(), "--station")})
        if (given && !line.batch && line.metricsPath.empty())
            return std::string(option) + " belongs with --batch or --metrics";
    const std::pair<bool, const char*> batchOnly[] = {
        {!line.operatorName.empty(), "--operator"},
        {!line.jsonPath.empty(), "--json"},
        {!line.junitPath.empty(), "--junit"},
        {!line.dbUrl.empty(), "--db"},
        {line.pairs, "--pairs"},
        {line.lines, "--lines"},
        {line.noProbe, "--no-probe"},
        {line.wiring.kind != WiringDeclaration::None, "--wiring"},
        {line.stallSeconds != 0, "--stall"},
        {line.checkFlow, "--check-flow"},
        {line.checkBreak, "--check-break"},
        {line.checkParity, "--check-parity"},
        {line.drainSeconds != kDefaultDrainSeconds, "--drain"},
        {!line.reportPath.empty(), "--report"},
        {!line.htmlPath.empty(), "--html"}};
    for (const auto& [given, option] : batchOnly)
        if (given && !line.batch) return std::string(option) + " belongs with --batch";
    if (line.intervalGiven && line.logPath.empty() && line.htmlPath.empty() &&
        line.metricsPath.empty())
        return "--interval belongs with --log, --html or --metrics";
    // Both measure the rate: a settling second and a measured one at least.
    const char* rated = line.checkRate             ? "--check-rate"
                        : !line.sweepRates.empty() ? "--sweep"
                                                   : nullptr;
    if (rated && !line.batch) return std::string(rated) + " belongs with --batch";
    if (rated && line.batchSeconds < kRateMinTestSeconds)
        return std::string(rated) + " needs a test of at least " +
               std::to_string(kRateMinTestSeconds) + " seconds (--batch " +
               std::to_string(kRateMinTestSeconds) + "): one to settle, one to measure";
    return "";
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult result;
    CommandLine& line = result.line;
    auto finish = [&](std::string error) {
        result.ok = error.empty();
        result.error = std::move(error);
        return result;
    };

    size_t i = 0;
    bool optionsEnded = false;  // by "--": everything after it is the path
    for (; i < args.size() && IsOptionWord(args[i]); ++i) {
        if (args[i] == "--") {
            ++i;
            optionsEnded = true;
            break;
        }
        OptionWord word(args, i);
        const std::string why = ReadOption(word, line);
        if (!why.empty()) return finish(why);
    }

    for (size_t j = i; j < args.size(); ++j) {
        if (line.import) {
            // Records are files of their own, one a word.
            line.importFiles.push_back(args[j]);
            continue;
        }
        if (j > i) line.configPath += ' ';
        line.configPath += args[j];
    }
    // An option word behind the path is a misplaced option, unless "--"
    // said that everything after it is the path.
    if (!optionsEnded) {
        for (size_t j = i + 1; j < args.size(); ++j)
            if (args[j].compare(0, 2, "--") == 0)
                return finish("options come before the configuration path ('" + Masked(args[j]) +
                              "' follows it); use '--' before a path that contains such a word");
    }

    if (line.help || line.version) return finish("");
    if (line.import) return finish(CheckImportAlone(line));
    return finish(line.history ? CheckHistoryAlone(line) : CheckCombinations(line));
}

std::vector<std::string> ArgsForRecords(const std::vector<std::string>& args) {
    std::vector<std::string> kept;
    bool dbValue = false;
    for (const std::string& arg : args) {
        if (dbValue)
            kept.push_back(MaskSecrets(arg));
        else if (arg.compare(0, 5, "--db=") == 0)
            kept.push_back(Masked(arg));
        else
            kept.push_back(arg);
        dbValue = arg == "--db";
    }
    return kept;
}

std::string UsageText(const std::string& platform, const ConsoleFeatures& features) {
    const std::string intro =
        features.terminalFrontEnd
            ? "), the serial line tester in a terminal: one row per port of the\n"
              "configuration file, with live counters. CONFIGURATION is the rest of the\n"
              "command line, blanks included, as the window tester takes it; without one,\n"
              "./vesktestw.ini. Options come before it; '--' ends the options.\n"
            : "), the serial line tester as a console program: it tests\n"
              "the ports of the configuration file unattended (--batch) and says what it\n"
              "found in its exit code and files. The terminal front end is Linux only;\n"
              "the window tester is vesktestw.exe. Ports are COM1..COM255 and\n"
              "a.b.c.d:port (through qelnet.dll, which must lie beside the program).\n"
              "CONFIGURATION is the rest of the command line, blanks included, as the\n"
              "window tester takes it; without one, ./vesktestw.ini. Options come before\n"
              "it; '--' ends the options.\n";
    const std::string demo =
        features.pseudoTerminalDemo
            ? "  --demo [N]       Make N virtual null-modem pairs (default 2, at most 32) out of\n"
              "                   pseudo-terminals, paced to the ports' speed, plus one pair\n"
              "                   through an RFC 2217 device server on 127.0.0.1 when the\n"
              "                   network library is there; write a configuration listing them\n"
              "                   in a fresh temporary directory and test them.\n"
            : "  --demo [N]       Make N virtual null-modem pairs (default 2, at most 32),\n"
              "                   each two network ports of an RFC 2217 device server that\n"
              "                   runs in the program on 127.0.0.1 (so qelnet.dll must be\n"
              "                   there), paced to the ports' speed, with modem lines, flow\n"
              "                   control, breaks and parity as UARTs have them; write a\n"
              "                   configuration listing them in a fresh temporary directory\n"
              "                   and test them. (Pairs of pseudo-terminals are Linux only.)\n";
    const std::string batch =
        features.terminalFrontEnd
            ? "  --batch SECONDS  Run without the terminal front end: open every port, test\n"
              "                   for SECONDS, stop the senders, let the receivers drain, and\n"
              "                   print the final rows as a table.\n"
            : "  --batch SECONDS  Run unattended: open every port, test for SECONDS, stop\n"
              "                   the senders, let the receivers drain, and print the final\n"
              "                   rows as a table.\n";
    const std::string log =
        features.terminalFrontEnd
            ? "  --log FILE       While the test runs (with --batch or in the front end),\n"
              "                   append one CSV line per port every interval to FILE: UTC\n"
            : "  --log FILE       With --batch: while the test runs, append one CSV line\n"
              "                   per port every interval to FILE: UTC\n";
    const std::string metrics =
        features.terminalFrontEnd
            ? "  --metrics FILE   While the test runs (with --batch or in the front end),\n"
            : "  --metrics FILE   With --batch: while the test runs,\n";
    const std::string unitMore =
        features.terminalFrontEnd
            ? ";\n                   with --metrics also in the front end, as a label.\n"
            : ".\n";
    const std::string db =
        features.sqlHistory
            ? "  --db URL         With --batch: add the run to a history database,\n"
              "                   sqlite:FILE (made on first use), postgresql://[USER@]HOST\n"
              "                   [:PORT]/DATABASE (a server for several benches), or\n"
              "                   odbc:CONNECTION-STRING, any database an ODBC driver\n"
              "                   reaches (odbc:DSN=floor;UID=vesk;PWD=...). Given once.\n"
              "                   A run the database cannot take waits in the spool folder\n"
              "                   and goes in with the next run that reaches it.\n"
            : "  --db URL         With --batch: add the run to a history database through\n"
              "                   ODBC, odbc:CONNECTION-STRING: any database a driver\n"
              "                   reaches (odbc:DSN=floor;UID=vesk;PWD=..., a SQLite file by\n"
              "                   odbc:Driver={SQLite3 ODBC Driver};Database=C:\\runs.db).\n"
              "                   sqlite: and postgresql:// are Linux's. Given once. A run\n"
              "                   the database cannot take waits in the spool folder and\n"
              "                   goes in with the next run that reaches it.\n";
    const std::string closed =
        features.terminalFrontEnd ? "  1  the front end was closed normally (Exit)\n" : "";
    const std::string cannotStart =
        features.terminalFrontEnd
            ? "  5  the terminal, the test engine or the demo ports could not be set up\n"
            : "  5  the test engine or the demo ports could not be set up, or no --batch\n"
              "     was given (there is no terminal front end)\n";
    return "Usage: vesktest [OPTIONS] [CONFIGURATION]\n"
           "       vesktest --db URL --import RECORD.json...\n"
           "\n"
           "VeskTest (" +
           platform + intro +
           "\n"
           "Options:\n" +
           demo +
           "  --keep-demo      With --demo: keep that directory at the end and print where\n"
           "                   it is.\n" +
           batch +
           "  --pairs          With --batch: half-duplex pairs (ports 1 and 2, 3 and 4...:\n"
           "                   master and slave) instead of full duplex on every port.\n"
           "  --lines          With --batch: first check the modem lines of ports 1 and 2,\n"
           "                   3 and 4... (a last odd port with a loop-back plug): which of\n"
           "                   CTS, DSR, DCD and RI follow RTS and DTR, both ways. An output\n"
           "                   line that reaches nothing fails the run; ports without modem\n"
           "                   lines are \"not supported\".\n"
           "  --wiring WIRING  With --batch: the wiring the bench is meant to have: pairs\n"
           "                   (1-2, 3-4..., a last odd port with a loop-back plug), loop\n"
           "                   (a plug on every port) or links such as 1-2,3-3,4-6 (3-3: a\n"
           "                   plug). Before the test every port identifies itself and\n"
           "                   every port listens; a port that hears another than declared\n"
           "                   fails the run (\"port 3 hears port 5, expected port 4\").\n"
           "  --no-probe       With --batch: no identification before the test, for a\n"
           "                   device that must not see foreign bytes; the wiring is then\n"
           "                   --wiring's as declared, or unknown. Without it the run\n"
           "                   learns the wiring, prints it (\"wiring: 1-2, 3-4, 5 loop, 6\n"
           "                   none\") and holds every receiver's blocks against those\n"
           "                   its source sent.\n"
           "  --stall SECONDS  With --batch: a port that receives nothing for longer\n"
           "                   while the test runs fails the run (default: four block\n"
           "                   times at the line's rate, at least 2 s).\n"
           "  --check-flow     With --batch: first check that flow control holds each\n"
           "                   sender off (the wired pairs, both ways; a port with a\n"
           "                   loop-back plug on itself): the receiver stops\n"
           "                   reading, the sender must stop within 64 KB of line time (3\n"
           "                   s at least), and every block must then arrive. Pairs\n"
           "                   without a handshake in their settings are \"not checked\".\n"
           "  --check-break    With --batch: first have each port send a break (250 ms);\n"
           "                   its partner must report it and then take blocks whole.\n"
           "  --check-parity   With --batch: first have each port send a burst with the\n"
           "                   other parity; its partner must report parity errors, then\n"
           "                   take blocks whole at the set parity. Needs parity in the\n"
           "                   settings. A failed check fails the run; pseudo-terminals\n"
           "                   are \"not supported\" for all three.\n"
           "  --drain SECONDS  With --batch: how long the receivers may go on after the\n"
           "                   senders stop (default 60); lines that are still receiving\n"
           "                   then fail the run.\n"
           "  --report FILE    With --batch: also write the final rows to FILE as CSV.\n" +
           log +
           "                   time, port, counters, rates over the interval, errors,\n"
           "                   line errors seen, state. Each line is flushed at once.\n"
           "  --html FILE      With --batch: write a page to FILE with the verdict, the\n"
           "                   final table and a chart per port of the receive rate over\n"
           "                   time, marked where errors and line errors happened.\n" +
           metrics +
           "                   rewrite FILE every interval with every port's counters,\n"
           "                   rates, state and check results and the run's outcome so far\n"
           "                   in the Prometheus text format, for node_exporter's textfile\n"
           "                   collector: name it NAME.prom in the collector's folder.\n"
           "                   Labelled with --station and --unit. The last file stays.\n"
           "  --interval SECONDS\n"
           "                   The sampling interval of --log, --html and --metrics\n"
           "                   (default 5).\n"
           "  --check-rate     With --batch: fail a port that received more than 3% below\n"
           "                   or above its line's rate (the speed divided by the bits of\n"
           "                   a character), measured from the second second of the test\n"
           "                   until the senders stop. A port more than twice as fast is\n"
           "                   reported as not a paced line, not failed. Half-duplex pairs\n"
           "                   are not judged. The test must last 2 seconds at least.\n"
           "  --sweep SPEEDS   With --batch: the test at each of SPEEDS in turn (bit/s,\n"
           "                   300 to 921600, separated by commas: 9600,19200,115200; at\n"
           "                   most 32), put on every port, with the rate check; one\n"
           "                   verdict line per speed, then the sweep's.\n"
           "  --unit SERIAL    With --batch: the serial number of the unit under test, in\n"
           "                   every record of the run (JSON, JUnit, database, HTML page)" +
           unitMore +
           "  --station NAME   With --batch or --metrics: the test station (default: the\n"
           "                   host name).\n"
           "  --operator NAME  With --batch: who ran the test.\n"
           "  --json FILE      With --batch: write the run's record to FILE as JSON: the\n"
           "                   run, its settings and outcome, and per port its counters and\n"
           "                   the results of every check, with units (the fields:\n"
           "                   docs/unattended-runs.md).\n"
           "  --junit FILE     With --batch: write FILE as JUnit XML for a CI server: one\n"
           "                   test case per port (per port and speed in a sweep).\n" +
           db +
           "  --history        With --db: print the past runs, newest first, and without\n"
           "                   --unit the first-pass yield per day and the failures per\n"
           "                   station and port; no test is run. --unit SERIAL shows one\n"
           "                   unit's.\n"
           "  --since DATE     With --history: runs from DATE on (UTC: 2026-05-01 or\n"
           "                   2026-05-01T06:00:00Z).\n"
           "  --import         With --db: add the run records named after the options\n"
           "                   (JSON files of --json, or those a run kept in the spool\n"
           "                   folder when the database could not take them) to the\n"
           "                   history; a run already there is not stored again. No\n"
           "                   test is run.\n"
           "  -h, --help       Show this help and exit.\n"
           "  --version        Print the program's name, platform and version (the\n"
           "                   title the front end shows) and exit.\n"
           "\n"
           "Exit codes:\n" +
           closed +
           "  2  the command line could not be used (or --wiring names a port that is\n"
           "     not configured)\n"
           "  0  batch: every port opened and moved data both ways with no error, no\n"
           "     loss, every block its source sent arrived whole, no stall, every block\n"
           "     back (half duplex), and the lines went quiet\n"
           "  3  batch: anything else on an open port: receive, send or line errors,\n"
           "     the port lost, nothing received or sent, fewer blocks or bytes than its\n"
           "     source sent, a last block cut short, a stall, a wiring other than the\n"
           "     declared one, blocks that did not come back, settings the driver did\n"
           "     not take as asked, lines still receiving at the drain's limit, a rate\n"
           "     off its line's (--check-rate), any speed of a sweep failing (the last\n"
           "     line says which) and, with --lines or --check-flow, --check-break,\n"
           "     --check-parity, a check that failed\n"
           "  4  batch: a configured port could not be opened (in time)\n" +
           cannotStart +
           "  6  batch: a file it was asked to write (--report, --html, --log, --json,\n"
           "     --junit) could not be written; the verdict line is printed all the\n"
           "     same, and the test's outcome is in the other files (6 wins over 8 and\n"
           "     7)\n"
           "  7  batch: the history database (--db) could not take the run, every file\n"
           "     was written and the run's record waits in the spool folder for the\n"
           "     next run; --history: the database could not be read; --import: it\n"
           "     could not take a record\n"
           "  8  batch: the run was stopped before its time (Ctrl-C, SIGTERM, a closed\n"
           "     terminal or console): no verdict; the last line says what was found\n"
           "     until then, and the ports never tested are \"not tested\" (8 wins over\n"
           "     7, 4 and 3)\n";
}
