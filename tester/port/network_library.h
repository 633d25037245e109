// The network serial library, loaded by name and bound export by export the
// first time a network port is opened. It is never unloaded.
//
// The nine exports the tester uses for data mirror the Win32 functions of
// the same name without the prefix, argument for argument; their results
// are 32-bit integers (BOOL, or a HANDLE from QnCreateFile). Two more,
// QnEscapeCommFunction and QnGetCommModemStatus, serve the modem-line check
// only: they are bound when the library has them, and a library without
// them is as good as any for data. So are QnSetCommBreak and
// QnClearCommBreak, for the break check alone. The library copies what
// it needs and keeps no caller pointer after a call returns. It sets no
// last error of its own: after a failed read or write the thread's last
// error is whatever the library's last system call left there.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/mutex.h"
#include "platform/win32_types.h"

using QnCreateFileFn = HANDLE(WINAPI*)(LPCSTR name, DWORD access, DWORD shareMode, LPVOID security,
                                       DWORD disposition, DWORD flags, HANDLE templateFile);
using QnCloseHandleFn = BOOL(WINAPI*)(HANDLE handle);
using QnReadFileFn = BOOL(WINAPI*)(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got,
                                   LPVOID overlapped);
using QnWriteFileFn = BOOL(WINAPI*)(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD sent,
                                    LPVOID overlapped);
using QnSetCommStateFn = BOOL(WINAPI*)(HANDLE handle, LPDCB dcb);
using QnGetCommStateFn = BOOL(WINAPI*)(HANDLE handle, LPDCB dcb);
using QnSetCommTimeoutsFn = BOOL(WINAPI*)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
using QnPurgeCommFn = BOOL(WINAPI*)(HANDLE handle, DWORD flags);
using QnClearCommErrorFn = BOOL(WINAPI*)(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
using QnEscapeCommFunctionFn = BOOL(WINAPI*)(HANDLE handle, DWORD function);
using QnGetCommModemStatusFn = BOOL(WINAPI*)(HANDLE handle, LPDWORD status);
using QnSetCommBreakFn = BOOL(WINAPI*)(HANDLE handle);
using QnClearCommBreakFn = BOOL(WINAPI*)(HANDLE handle);

// The export slots. They are a struct member each rather than globals, so
// that no symbol of the tester carries an export's plain name (a library
// that calls its own QnCloseHandle must reach its own). The first nine are
// always bound; the last four are null when the library lacks them.
struct LibraryExports {
    QnCreateFileFn QnCreateFile;
    QnCloseHandleFn QnCloseHandle;
    QnReadFileFn QnReadFile;
    QnWriteFileFn QnWriteFile;
    QnSetCommStateFn QnSetCommState;
    QnGetCommStateFn QnGetCommState;
    QnSetCommTimeoutsFn QnSetCommTimeouts;
    QnPurgeCommFn QnPurgeComm;
    QnClearCommErrorFn QnClearCommError;
    QnEscapeCommFunctionFn QnEscapeCommFunction;  // may be null
    QnGetCommModemStatusFn QnGetCommModemStatus;  // may be null
    QnSetCommBreakFn QnSetCommBreak;              // may be null
    QnClearCommBreakFn QnClearCommBreak;          // may be null
};

// Filled once, all together, before libraryLoaded turns true; never
// changed afterwards. Read them only after libraryLoaded has been seen true.
extern LibraryExports libraryExports;

// True once the library is loaded and the nine data exports are bound. Only ever
// changes from false to true while the program runs (tests aside). Stored
// with release and read with acquire: it publishes the slots.
extern std::atomic<bool> libraryLoaded;

// The "Not found qelnet.dll" box has been shown since the last successful
// load. Read and written only while libraryLock is held.
extern bool libraryWarned;

// Serialises BindNetworkLibrary. Null until CreateLibraryLock.
extern plat::RecursiveMutex* libraryLock;

// Creates libraryLock (once; later calls keep the first). False when it
// cannot be created. The engine's start-up (InitTestEngine) calls it before
// any port is opened; a bind without the lock fails.
bool CreateLibraryLock();

// Loads and binds the library unless that is done already; returns
// libraryLoaded. When the library cannot be loaded, or lacks any of the
// nine data exports, it counts as not found: the first such failure since the
// last successful load shows one owner-less box, "Not found qelnet.dll"
// (caption "DLL Loading", MB_OK | MB_ICONWARNING), while the lock is held,
// so other ports binding at the same moment wait for the user and then try
// again themselves without a box. Every later network open tries again.
bool BindNetworkLibrary();

// For tests: the base name to load instead of "qelnet" (a missing or
// partial stand-in), and a fresh unbound, unwarned state. Not for use while
// ports are open.
void UseNetworkLibraryForTesting(const char* baseName);
