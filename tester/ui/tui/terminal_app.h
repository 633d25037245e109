// The terminal front end: the window tester's main window, menus, settings
// dialog and About box in a terminal, on the same rows, refresh, commands,
// workers and shut-down.
#pragma once

class IntervalLog;
class MetricsFile;

// Exit code after Exit (or a stop signal), as the window's close gives.
constexpr int kExitClosed = 1;
// Exit code when the front end cannot start: no usable terminal, or the
// test engine could not be started. Nothing has been saved then.
constexpr int kExitNoFrontEnd = 5;

// Runs the front end on the configuration at configPath until the
// operator chooses Exit: loads the configuration, starts one worker per
// port and the 500 ms refresh, serves keys and boxes, then the orderly
// shut-down and the save of the configuration. Messages that could not be
// shown on the screen are printed to stderr once the terminal is back to
// normal. Returns kExitClosed, or kExitNoFrontEnd. With `log`, the rows
// are sampled into it while the front end runs, and once more at the end
// (interval_log.h); it is not owned. With `metrics`, the refresh rewrites
// that file every interval and the end a last time (metrics_file.h); a
// file it cannot write is shown once, as a message; not owned either.
int RunTerminalFrontEnd(IntervalLog* log = nullptr, MetricsFile* metrics = nullptr);
