// The test engine's process-wide state: the quit signal that ends every
// worker loop, and the start-up that creates it.
#pragma once

#include "platform/event.h"

// Manual-reset, initially clear, set once at shut-down. Null until
// InitTestEngine has succeeded; never freed while the program runs, so a
// thread that has seen it may keep using it.
extern plat::Event* quitEvent;

// Creates the network library's lock (CreateLibraryLock) and then
// quitEvent. False when either cannot be made; the caller cannot go on
// without them. Call once, before the first worker is created; a later call
// keeps what the first made.
bool InitTestEngine();

// Sets quitEvent: every worker loop ends within one read time-out or one
// block write (a write held by flow control ends only by the shut-down's
// cancel and purge, PortWorker::CancelAndPurge).
void SignalQuit();

// For tests that run several engines one after the other in one process:
// clears quitEvent again. Only once every worker of the previous run has
// been joined.
void ClearQuitForTesting();
