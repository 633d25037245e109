#include "tester/app/console_platform.h"

#include <cstdio>

#include "platform/message_box.h"
#include "platform/win32_types.h"

// No terminal front end and no pseudo-terminals; the run history's
// back ends are Linux's client libraries.
const ConsoleFeatures kConsoleFeatures{false, false, false};

namespace {

// The boxes a window tester shows ("Not found qelnet.dll") as lines on
// stderr, as on Linux: an unattended run has nobody to click them away.
int PrintBox(const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "vesktest: %s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}

}  // namespace

void PrepareConsoleProcess() {
    // A port or drive that fails is reported by the call that failed, not
    // by a system box that waits for someone to click it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    plat::setMessageBoxHook(PrintBox);
}

std::string StationName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "";
    return std::string(name, size);
}

// A console answers GetConsoleMode; a file, a pipe and NUL (which _isatty
// takes for a terminal) do not.
bool OutputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// The rules by which a Windows program splits its command line (and
// PowerShell quotes an argument for one): double quotes around a word with
// a blank, a tab or a quote; a quote inside as \"; backslashes doubled
// where a quote follows them.
std::string ShellQuoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

int RunFrontEnd(IntervalLog*, MetricsFile*) {
    std::fprintf(stderr,
                 "vesktest: the terminal front end is Linux only; on Windows the window tester "
                 "is vesktestw.exe, and vesktest.exe runs unattended (--batch SECONDS)\n");
    return kExitCannotStart;
}
