#include "tester/app/command_line.h"

#include <algorithm>
#include <cstring>

#include "tester/batch/rate_check.h"
#include "tester/report/run_record.h"
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

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult result;
    CommandLine& line = result.line;
    auto fail = [&](std::string message) {
        result.ok = false;
        result.error = std::move(message);
        return result;
    };

    size_t i = 0;
    bool optionsEnded = false;  // by "--": everything after it is the path
    for (; i < args.size() && IsOptionWord(args[i]); ++i) {
        const std::string& word = args[i];
        if (word == "--") {
            ++i;
            optionsEnded = true;
            break;
        }
        std::string name, value;
        bool hasValue = false;
        SplitInline(word, name, value, hasValue);
        // The value of an option that takes one: inline, or the next word.
        auto takeValue = [&](std::string& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        // A number of seconds from 1 to `most`; "" or why not.
        auto takeSeconds = [&](uint32_t most, uint32_t& out) -> std::string {
            std::string seconds;
            if (!takeValue(seconds)) return name + " needs a number of seconds";
            if (!ReadBounded(seconds, 1, most, out))
                return name + " takes a number of seconds from 1 to " + std::to_string(most) +
                       ", not '" + seconds + "'";
            return "";
        };
        auto takeFile = [&](std::string& out) {
            return takeValue(out) && !out.empty() ? "" : name + " needs a file name";
        };

        if (name == "-h" || name == "--help") {
            line.help = true;
        } else if (name == "--version" && !hasValue) {
            line.version = true;
        } else if (name == "--demo") {
            line.demo = true;
            std::string count;
            if (hasValue) {
                count = value;
            } else if (i + 1 < args.size() && AllDigits(args[i + 1])) {
                count = args[++i];
            } else {
                continue;
            }
            if (!ReadBounded(count, 1, kMaxDemoPairs, line.demoPairs))
                return fail("--demo takes a number of pairs from 1 to " +
                            std::to_string(kMaxDemoPairs) + ", not '" + count + "'");
        } else if (name == "--keep-demo" && !hasValue) {
            line.keepDemo = true;
        } else if (name == "--batch") {
            const std::string why = takeSeconds(kMaxBatchSeconds, line.batchSeconds);
            if (!why.empty()) return fail(why);
            line.batch = true;
        } else if (name == "--pairs" && !hasValue) {
            line.pairs = true;
        } else if (name == "--lines" && !hasValue) {
            line.lines = true;
        } else if (name == "--drain") {
            const std::string why = takeSeconds(kMaxDrainSeconds, line.drainSeconds);
            if (!why.empty()) return fail(why);
        } else if (name == "--report" || name == "--log" || name == "--html") {
            std::string& path = name == "--report" ? line.reportPath
                                : name == "--log"  ? line.logPath
                                                   : line.htmlPath;
            const std::string why = takeFile(path);
            if (!why.empty()) return fail(why);
        } else if (name == "--interval") {
            const std::string why = takeSeconds(kMaxIntervalSeconds, line.intervalSeconds);
            if (!why.empty()) return fail(why);
            line.intervalGiven = true;
        } else if (name == "--check-rate" && !hasValue) {
            line.checkRate = true;
        } else if (name == "--no-probe" && !hasValue) {
            line.noProbe = true;
        } else if (name == "--wiring") {
            std::string text;
            if (!takeValue(text) || text.empty())
                return fail("--wiring needs pairs, loop or a map of links such as 1-2,3-3,4-6");
            std::string why;
            if (!ParseWiringDeclaration(text, line.wiring, why)) return fail(why);
        } else if (name == "--stall") {
            const std::string why = takeSeconds(kMaxStallSeconds, line.stallSeconds);
            if (!why.empty()) return fail(why);
        } else if (name == "--check-flow" && !hasValue) {
            line.checkFlow = true;
        } else if (name == "--check-break" && !hasValue) {
            line.checkBreak = true;
        } else if (name == "--check-parity" && !hasValue) {
            line.checkParity = true;
        } else if (name == "--sweep") {
            std::string list;
            if (!takeValue(list) || list.empty())
                return fail("--sweep needs a list of speeds, as 9600,19200,115200");
            line.sweepRates.clear();
            const std::string why = ReadSweepRates(list, line.sweepRates);
            if (!why.empty()) return fail(why);
        } else if (name == "--unit" || name == "--station" || name == "--operator") {
            std::string& tag = name == "--unit"      ? line.unit
                               : name == "--station" ? line.station
                                                     : line.operatorName;
            if (!takeValue(tag) || tag.empty())
                return fail(name + (name == "--unit" ? " needs a serial number" : " needs a name"));
        } else if (name == "--json" || name == "--junit") {
            const std::string why = takeFile(name == "--json" ? line.jsonPath : line.junitPath);
            if (!why.empty()) return fail(why);
        } else if (name == "--db") {
            if (!takeValue(line.dbUrl) || line.dbUrl.empty())
                return fail("--db needs a database: sqlite:FILE or postgresql://HOST/DATABASE");
        } else if (name == "--history" && !hasValue) {
            line.history = true;
        } else if (name == "--since") {
            std::string date;
            if (!takeValue(date) || !ParseUtcTime(date, line.sinceMs))
                return fail(
                    "--since takes a UTC date or time, as 2026-05-01 or "
                    "2026-05-01T06:00:00Z, not '" +
                    date + "'");
        } else {
            return fail("unknown option '" + word + "'");
        }
    }

    for (size_t j = i; j < args.size(); ++j) {
        if (j > i) line.configPath += ' ';
        line.configPath += args[j];
    }
    // An option word behind the path is a misplaced option, unless "--"
    // said that everything after it is the path.
    if (!optionsEnded) {
        for (size_t j = i + 1; j < args.size(); ++j)
            if (args[j].compare(0, 2, "--") == 0)
                return fail("options come before the configuration path ('" + args[j] +
                            "' follows it); use '--' before a path that contains such a word");
    }

    if (line.help || line.version) {
        result.ok = true;
        return result;
    }
    if (line.history) {
        if (line.dbUrl.empty()) return fail("--history needs --db: the database to read");
        if (line.batch || line.demo || !line.configPath.empty())
            return fail("--history only reads the database: no test, no configuration");
        if (!line.station.empty() || !line.operatorName.empty() || !line.jsonPath.empty() ||
            !line.junitPath.empty())
            return fail("--history takes --db, --unit and --since alone");
        result.ok = true;
        return result;
    }
    if (line.sinceMs >= 0) return fail("--since belongs with --history");
    for (const auto& [given, option] : {std::pair<bool, const char*>{!line.unit.empty(), "--unit"},
                                        {!line.station.empty(), "--station"},
                                        {!line.operatorName.empty(), "--operator"},
                                        {!line.jsonPath.empty(), "--json"},
                                        {!line.junitPath.empty(), "--junit"},
                                        {!line.dbUrl.empty(), "--db"}})
        if (given && !line.batch) return fail(std::string(option) + " belongs with --batch");
    if (line.demo && !line.configPath.empty())
        return fail("--demo writes a configuration of its own; give no configuration path with it");
    if (line.keepDemo && !line.demo) return fail("--keep-demo belongs with --demo");
    if (line.pairs && !line.batch) return fail("--pairs belongs with --batch");
    if (line.lines && !line.batch) return fail("--lines belongs with --batch");
    if (line.noProbe && !line.batch) return fail("--no-probe belongs with --batch");
    if (line.wiring.kind != WiringDeclaration::None && !line.batch)
        return fail("--wiring belongs with --batch");
    if (line.stallSeconds != 0 && !line.batch) return fail("--stall belongs with --batch");
    for (const auto& [asked, option] :
         {std::pair{line.checkFlow, "--check-flow"}, std::pair{line.checkBreak, "--check-break"},
          std::pair{line.checkParity, "--check-parity"}})
        if (asked && !line.batch) return fail(std::string(option) + " belongs with --batch");
    if (line.drainSeconds != kDefaultDrainSeconds && !line.batch)
        return fail("--drain belongs with --batch");
    if (!line.reportPath.empty() && !line.batch) return fail("--report belongs with --batch");
    if (!line.htmlPath.empty() && !line.batch) return fail("--html belongs with --batch");
    if (line.intervalGiven && line.logPath.empty() && line.htmlPath.empty())
        return fail("--interval belongs with --log or --html");
    // Both measure the rate: a settling second and a measured one at least.
    const char* rated = line.checkRate             ? "--check-rate"
                        : !line.sweepRates.empty() ? "--sweep"
                                                   : nullptr;
    if (rated && !line.batch) return fail(std::string(rated) + " belongs with --batch");
    if (rated && line.batchSeconds < kRateMinTestSeconds)
        return fail(std::string(rated) + " needs a test of at least " +
                    std::to_string(kRateMinTestSeconds) + " seconds (--batch " +
                    std::to_string(kRateMinTestSeconds) + "): one to settle, one to measure");
    result.ok = true;
    return result;
}

std::string UsageText(const std::string& platform) {
    return "Usage: vesktest [OPTIONS] [CONFIGURATION]\n"
           "\n"
           "VeskTest (" +
           platform +
           "), the serial line tester in a terminal: one row per port of the\n"
           "configuration file, with live counters. CONFIGURATION is the rest of the\n"
           "command line, blanks included, as the window tester takes it; without one,\n"
           "./vesktestw.ini. Options come before it; '--' ends the options.\n"
           "\n"
           "Options:\n"
           "  --demo [N]       Make N virtual null-modem pairs (default 2, at most 32) out of\n"
           "                   pseudo-terminals, paced to the ports' speed, plus one pair\n"
           "                   through an RFC 2217 device server on 127.0.0.1 when the\n"
           "                   network library is there; write a configuration listing them\n"
           "                   in a fresh temporary directory and test them.\n"
           "  --keep-demo      With --demo: keep that directory at the end and print where\n"
           "                   it is.\n"
           "  --batch SECONDS  Run without the terminal front end: open every port, test\n"
           "                   for SECONDS, stop the senders, let the receivers drain, and\n"
           "                   print the final rows as a table.\n"
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
           "  --report FILE    With --batch: also write the final rows to FILE as CSV.\n"
           "  --log FILE       While the test runs (with --batch or in the front end),\n"
           "                   append one CSV line per port every interval to FILE: UTC\n"
           "                   time, port, counters, rates over the interval, errors,\n"
           "                   line errors seen, state. Each line is flushed at once.\n"
           "  --html FILE      With --batch: write a page to FILE with the verdict, the\n"
           "                   final table and a chart per port of the receive rate over\n"
           "                   time, marked where errors and line errors happened.\n"
           "  --interval SECONDS\n"
           "                   The sampling interval of --log and --html (default 5).\n"
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
           "                   every record of the run (JSON, JUnit, database, HTML page).\n"
           "  --station NAME   With --batch: the test station (default: the host name).\n"
           "  --operator NAME  With --batch: who ran the test.\n"
           "  --json FILE      With --batch: write the run's record to FILE as JSON: the\n"
           "                   run, its settings and outcome, and per port its counters and\n"
           "                   the results of every check, with units (see the README).\n"
           "  --junit FILE     With --batch: write FILE as JUnit XML for a CI server: one\n"
           "                   test case per port (per port and speed in a sweep).\n"
           "  --db URL         With --batch: add the run to a history database,\n"
           "                   sqlite:FILE (made on first use) or postgresql://[USER@]HOST\n"
           "                   [:PORT]/DATABASE (a server for several benches).\n"
           "  --history        With --db: print the past runs, newest first, and without\n"
           "                   --unit the first-pass yield per day and the failures per\n"
           "                   port name; no test is run. --unit SERIAL shows one unit's.\n"
           "  --since DATE     With --history: runs from DATE on (UTC: 2026-05-01 or\n"
           "                   2026-05-01T06:00:00Z).\n"
           "  -h, --help       Show this help and exit.\n"
           "  --version        Print the program's name, platform and version (the\n"
           "                   title the front end shows) and exit.\n"
           "\n"
           "Exit codes:\n"
           "  1  the front end was closed normally (Exit)\n"
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
           "  4  batch: a configured port could not be opened (in time)\n"
           "  5  the terminal, the test engine or the demo ports could not be set up\n"
           "  6  batch: a file it was asked to write (--report, --html, --log, --json,\n"
           "     --junit) could not be written; the verdict line is printed all the\n"
           "     same, and the test's outcome is in the other files\n"
           "  7  batch: the history database (--db) could not take the run, every file\n"
           "     was written; --history: the database could not be read\n";
}
