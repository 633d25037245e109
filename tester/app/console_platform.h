// What the console tester does differently on each platform: vesktest on
// Linux, vesktest.exe on Windows. One body (tester_main.cpp) runs both;
// these few calls are what it asks of the platform.
//
// console_platform_posix.cpp: the terminal front end, the host name of
// gethostname, a POSIX shell's quoting.
// console_platform_win32.cpp: no terminal front end (the window tester is
// vesktestw.exe), the computer name, cmd's and PowerShell's quoting,
// messages of the library's binding on stderr rather than in boxes.
#pragma once

#include <string>

#include "tester/app/command_line.h"

class IntervalLog;
class MetricsFile;

// Exit code when the terminal, the test engine or the demo ports cannot be
// set up.
constexpr int kExitCannotStart = 5;

// What this platform's build offers besides the unattended run, for
// --help.
extern const ConsoleFeatures kConsoleFeatures;

// Readies the process for a console program that runs unattended: on
// Windows no system error box may wait for a click, and the boxes the
// tester shows elsewhere are lines on stderr.
void PrepareConsoleProcess();

// The station's name when none is given: the host name, "" when unknown.
std::string StationName();

// Standard output is a console or terminal (not a file or a pipe): the
// unattended run then shows its progress line.
bool OutputIsConsole();

// `word` as the platform's command shell needs it written so that the
// program gets it back unchanged: as it stands when it needs nothing.
std::string ShellQuoted(const std::string& word);

// Without --batch: the terminal front end on the configuration set by
// SetConfigPath, until the operator exits. Its exit code; where there is no
// such front end, a message and kExitCannotStart.
int RunFrontEnd(IntervalLog* log, MetricsFile* metrics);
