// The test engine's process-wide state: the quit signal that ends every
// worker loop, and the start-up that creates it.
#pragma once

#include <mutex>

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

// Readers of a worker on threads of their own (the refresh tick) hold this
// lock while they read and test quitEvent under it first; the shut-down
// takes it once after SignalQuit (WaitForWorkerReaders). From then on no
// such reader touches a worker, which may then be freed. A reader never
// waits for anything else while holding it (a tick writes its cells after
// letting go), so the shut-down cannot deadlock with a list whose
// operations are served on the shut-down's own thread.
extern std::mutex workerReadLock;

// Returns once no reader holds workerReadLock; call after SignalQuit.
void WaitForWorkerReaders();

// For tests that run several engines one after the other in one process:
// clears quitEvent again. Only once every worker of the previous run has
// been joined.
void ClearQuitForTesting();
