// A request to stop, from outside the program: on POSIX interrupt,
// terminate and hang-up; on Windows Ctrl-C, Ctrl-Break and closing the
// console window (and the session's log-off or shut-down). The front end
// then closes as by Exit (orderly shut-down, configuration saved) and an
// unattended run cuts its test time short and still drains and reports,
// instead of the process dying with its ports open and the terminal raw.
// A second interrupt (Ctrl-C) ends the program the usual way.
//
// Closing a console window is the one request the system does not wait on
// for long: Windows ends the process about five seconds after the handler
// has been told, whatever it is doing by then.
#pragma once

namespace plat {

// Installs the handlers (once; later calls do nothing).
void catchStopRequests();

// A stop was requested since the program started.
bool stopRequested();

}  // namespace plat
