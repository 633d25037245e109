// The command line of the terminal tester, vesktest.
//
// Without options the whole argument text is the configuration path, as in
// the window tester: the shell's words joined by single blanks, unaltered
// otherwise (no quote removal of our own, no trimming), and
// "./vesktestw.ini" when there is none. Options come first; the first word
// that is not an option (or everything after "--") starts the path, which
// then runs to the end of the line. An option word after the path is an
// error rather than part of the path, so that "vesktest my.ini --batch 5"
// is not taken for a file of that name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/batch/wiring.h"

// Exit code of a command line that cannot be used.
constexpr int kExitUsage = 2;

// --demo without a number.
constexpr uint32_t kDefaultDemoPairs = 2;
// Upper bounds: each demo pair takes two pseudo-terminals and a thread; a
// batch run's elapsed time is a 32-bit millisecond count.
constexpr uint32_t kMaxDemoPairs = 32;
constexpr uint32_t kMaxBatchSeconds = 2000000;
// The log's and the HTML report's sampling interval: the default, and the
// longest (a day).
constexpr uint32_t kDefaultIntervalSeconds = 5;
constexpr uint32_t kMaxIntervalSeconds = 86400;
// The batch run's drain limit, in seconds.
constexpr uint32_t kDefaultDrainSeconds = 60;
constexpr uint32_t kMaxDrainSeconds = 3600;
// The speeds of one sweep, at most.
constexpr uint32_t kMaxSweepRates = 32;
// The stall limit, in seconds, at most (a day).
constexpr uint32_t kMaxStallSeconds = 86400;

struct CommandLine {
    std::string configPath;  // the path as given, or "" for the default
    bool help = false;
    bool version = false;
    bool demo = false;
    uint32_t demoPairs = kDefaultDemoPairs;
    bool keepDemo = false;
    bool batch = false;
    uint32_t batchSeconds = 0;
    bool pairs = false;
    bool lines = false;  // --lines: the modem-line check before the test
    uint32_t drainSeconds = kDefaultDrainSeconds;
    std::string reportPath;
    std::string logPath;      // the interval log (CSV), when not empty
    std::string htmlPath;     // the HTML report of a batch run, when not empty
    std::string metricsPath;  // the metrics file (Prometheus text format), when not empty
    bool intervalGiven = false;
    uint32_t intervalSeconds = kDefaultIntervalSeconds;
    bool checkRate = false;
    // --check-flow, --check-break, --check-parity: those checks before the test
    bool checkFlow = false;
    bool checkBreak = false;
    bool checkParity = false;
    std::vector<uint32_t> sweepRates;  // --sweep, in the order given
    bool noProbe = false;              // --no-probe: no identification before the test
    WiringDeclaration wiring;          // --wiring
    uint32_t stallSeconds = 0;         // --stall; 0: the default
    // The run's tags and the outputs that keep it (run_outputs.h).
    std::string unit;
    std::string station;  // "" for the host name
    std::string operatorName;
    std::string jsonPath;
    std::string junitPath;
    std::string dbUrl;     // --db, as given
    bool history = false;  // --history: the past runs of --db, no test
    // --import: the run records (JSON) named after the options go into
    // --db's history, each a word of its own; no test.
    bool import = false;
    std::vector<std::string> importFiles;
    int64_t sinceMs = -1;  // --since, Unix ms; below 0 when not given
};

struct CommandLineResult {
    bool ok = false;
    std::string error;  // one line, without the program name, when !ok
    CommandLine line;
};

// Parses the words after the program's own name.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args);

// The words the program was started with as the records keep them: the
// value of --db (--db=URL) with its passwords masked (secret_text.h), the
// rest as given. A record outlives the command, and anyone may read it.
std::vector<std::string> ArgsForRecords(const std::vector<std::string>& args);

// What a build of the console tester offers besides the unattended run;
// Linux's has all of it.
struct ConsoleFeatures {
    bool terminalFrontEnd = true;    // the curses front end without --batch
    bool pseudoTerminalDemo = true;  // --demo pairs out of pseudo-terminals
    bool sqlHistory = true;          // --db sqlite: and postgresql://
};

// The --help text: usage, every option with its help, the exit codes.
// `platform` is the one the program names itself for ("Linux"); the texts
// of the front end, the demo and the history follow `features`.
std::string UsageText(const std::string& platform,
                      const ConsoleFeatures& features = ConsoleFeatures());
