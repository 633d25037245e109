// The calling thread's last system error, GetLastError style.
//
// On Windows this is GetLastError itself. On POSIX it is errno: it is
// per-thread and shared by every module of the process, so a code set inside
// libqelnet.so is what the tester reads after the call returns. Our own code
// stores Win32 codes there (ERROR_OPERATION_ABORTED for a cancelled
// transfer); failures reported by the system keep their errno values.
//
// On POSIX the two kinds of number meet: ERROR_INVALID_HANDLE is ENXIO's 6,
// ERROR_NOT_READY EISDIR's 21. So the seam keeps them apart: a Win32 code
// set with setLastError is also noted in a slot of the thread's own, and
// currentError() says which kind the thread's last error is: the noted
// Win32 code while errno still holds it, a system error once the system
// has put another number there. (The slot is this module's: a code set
// inside libqelnet.so reads as a system error here, and the network port
// reads the library's codes as Win32 codes by what it is.)
#pragma once

#include <cstdint>
#include <string>

namespace plat {

uint32_t lastError();
void setLastError(uint32_t code);

// A last error and its kind: a Win32 code (the system's own on Windows, our
// code's on POSIX), or on POSIX a system error, an errno value.
struct Error {
    uint32_t code = 0;
    bool system = false;
};

// A system error (an errno value on POSIX) as the thread's last error, for
// code that reports one it has at hand rather than from a failed call.
void setSystemError(uint32_t code);

// How many Win32 codes this thread has set so far (POSIX; 0 on Windows),
// and, after a call that failed, the mark that its error is the system's
// unless it set a Win32 code since `count`: the port backends settle every
// failure of their calls so, whatever number errno had before.
uint32_t ownErrorsSet();
void settleSystemError(uint32_t count);

// The calling thread's last error, its kind told.
Error currentError();
// Makes `error` the calling thread's last error again, kind and all (a
// call that must not lose its caller's error to one of its own).
void restoreError(const Error& error);

// The system's own words for `code` as the system reports it (strerror on
// POSIX, FormatMessage on Windows), without a final period or line end, so
// that it fits in a sentence or a cell: "Permission denied", "Access is
// denied". "error N" when the system has no words for it.
std::string errorText(uint32_t code);

// The words for a Win32 code that our own code stores as the last error:
// on Windows errorText(code); on POSIX, where errno's numbers mean other
// things, the Windows wording of the codes the tester and the network
// library use (ERROR_NETNAME_DELETED, ERROR_OPERATION_ABORTED...), or ""
// for any other code.
std::string win32ErrorText(uint32_t code);

}  // namespace plat
