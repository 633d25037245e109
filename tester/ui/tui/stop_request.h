// Interrupt, terminate and hang-up as a request to stop: the front end then
// closes as by Exit (orderly shut-down, configuration saved) and an
// unattended run cuts its test time short and still drains and reports,
// instead of the process dying with its ports open and the terminal raw.
// A second signal of the same kind ends the program the usual way.
#pragma once

// Installs the handlers (once; later calls do nothing).
void CatchStopSignals();

// A stop was requested since the program started.
bool StopRequested();
