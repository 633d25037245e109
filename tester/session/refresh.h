// The periodic refresh of the port list: every 500 ms each ready worker's
// row gets its cells 2 to 8 rewritten from the worker's counters.
//
// The session calls RefreshRows from its timer's thread, beside the
// commands on the front end's thread. Once quitEvent is set no call reads
// a worker any more: the workers' shut-down relies on that (it waits for
// workerReadLock, engine.h, before it frees a worker).
#pragma once

#include <vector>

#include "tester/session/row_texts.h"

class PortWorker;
class RowSink;
class WorkerGroup;

// One tick. Does nothing when quitEvent is set. Otherwise visits every
// worker in row order, skips those that are not ready (notReady, so "Not
// open" rows keep what their port thread wrote), and for the others runs
// RefreshCommErrors and UpdateErrorKindText and writes cells 2 to 8 of the
// worker's row in column order. Cells 0 and 1 are never written. A tick
// that sees quitEvent set part-way stops before the next worker. With
// `taken`, every worker's snapshot as the tick read it goes there, in row
// order (for the session's refresh observer). False when quitEvent cut
// the tick short (or it was set before).
bool RefreshRows(WorkerGroup& workers, RowSink& rows, std::vector<PortSnapshot>* taken = nullptr);

// Reads and clears the port's line errors (ClearError through the worker),
// keeps the bits of kShownCommErrors in the worker's commErrors and writes
// their letters into its commErrorText, and counts a read that found any
// (lineErrorCount, lineErrorBits). A ClearError that fails leaves
// commErrors as it was; the text is still made from it.
void RefreshCommErrors(PortWorker& worker);

// lastErrorKindText = the code of lastErrorKind ("..", "RD", ... "??").
void UpdateErrorKindText(PortWorker& worker);
