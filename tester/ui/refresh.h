// The periodic refresh of the port list: every 500 ms each ready row's
// cells 2 to 8 are rewritten from its worker's counters.
//
// The front end calls RefreshRows from its timer (the window's timer-queue
// thread, or the terminal's main loop). It may run on a thread of its own,
// beside the commands on the front end's thread. Once quitEvent is set no
// call reads a worker any more: ShutDownWorkers (port_workers.h) relies on
// that, and on DrainRefresh, before it destroys a worker.
#pragma once

#include "tester/ui/row_texts.h"

class PortList;
class PortWorker;

// One tick. Does nothing when quitEvent is set. Otherwise visits every
// row, selected or not, in position order, skips rows without a worker and
// rows whose worker is not ready (notReady, so "Not open" rows keep what
// their port thread wrote), and for the others runs RefreshCommErrors and
// UpdateErrorKindText and writes cells 2 to 8 in column order. Cells 0 and
// 1 are never written. A tick that sees quitEvent set part-way stops
// before the next row.
void RefreshRows(PortList& rows);

// Reads and clears the port's line errors (ClearError through the worker),
// keeps the bits of kShownCommErrors in the worker's commErrors and writes
// their letters into its commErrorText. A ClearError that fails leaves
// commErrors as it was; the text is still made from it.
void RefreshCommErrors(PortWorker& worker);

// lastErrorKindText = the code of lastErrorKind ("..", "RD", ... "??").
void UpdateErrorKindText(PortWorker& worker);

// The worker's fields that cells 2 to 8 show, each read once (relaxed; the
// values may come from slightly different moments).
RowValues ReadRowValues(PortWorker& worker);

// For the shut-down, after SignalQuit: returns once no RefreshRows call is
// reading a worker; none reads one afterwards. Never waits for a list
// operation (a tick writes cells only after it has let go of the worker),
// so it cannot deadlock with a list that serves its operations on the
// caller's thread.
void DrainRefresh();
