#include "tester/app/console_platform.h"

#include <cctype>

#include <unistd.h>

#include "tester/ui/tui/console.h"
#include "tester/ui/tui/terminal_app.h"

static_assert(kExitCannotStart == kExitNoFrontEnd, "one exit code for a program that cannot start");

const ConsoleFeatures kConsoleFeatures{true, true, true};

void PrepareConsoleProcess() {}

std::string StationName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

bool OutputIsConsole() {
    return StdoutIsTerminal();
}

// In single quotes, each single quote of the word closed, escaped and
// opened again.
std::string ShellQuoted(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word)
        if (!(std::isalnum(static_cast<unsigned char>(c)) ||
              std::string("-_./:=,+@%").find(c) != std::string::npos))
            plain = false;
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunFrontEnd(IntervalLog* log, MetricsFile* metrics) {
    return RunTerminalFrontEnd(log, metrics);
}
