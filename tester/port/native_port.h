// The native backend of PortAccess: a local serial port driven by the
// system's own serial interface. One NativePort per PortAccess, made with
// it and freed with it, so that no thread ever touches a freed one.
//
// Same-named platform files implement it:
// - native_port_win32.cpp: the Win32 serial API with overlapped I/O. The
//   handle is the one CreateFileA returns.
// - native_port_posix.cpp: a tty through termios, a non-blocking descriptor
//   and poll. The handle is the file descriptor, (HANDLE)(intptr_t)fd, so
//   INVALID_HANDLE_VALUE is fd -1; it means something only to the
//   NativePort that opened it.
//
// Every operation but Open takes the handle Open returned and fails with
// ERROR_INVALID_HANDLE for any other, or once Close has begun. The results
// follow the Win32 calls they stand for: nonzero for success, the reason in
// the thread's last error (plat::lastError) otherwise.
#pragma once

#include <memory>
#include <string>

#include "platform/last_error.h"
#include "platform/win32_types.h"

struct NativePort;

struct NativePortDeleter {
    void operator()(NativePort* port) const;
};
using NativePortPtr = std::unique_ptr<NativePort, NativePortDeleter>;

// Throws std::bad_alloc.
NativePortPtr NewNativePort();

// Whether a name starting with "/" is a device path (POSIX) or no port at
// all (Windows).
extern const bool kNativeDevicePaths;

// Opens the normalised local port `name` ("COM7"; on POSIX also a device
// path) for overlapped, cancellable transfers. The other arguments are
// CreateFileA's. INVALID_HANDLE_VALUE on failure.
HANDLE NativeOpen(NativePort& port, const char* name, DWORD access, DWORD shareMode,
                  LPVOID security, DWORD disposition, DWORD flags, HANDLE templateFile);

// Ends the transfers in progress (they fail with ERROR_OPERATION_ABORTED),
// waits for every operation inside to leave, then closes the port.
BOOL NativeClose(NativePort& port, HANDLE handle);

// Block until the transfer ends by the time-outs of NativeSetTimeouts, by
// a cancel or a purge (then FALSE with ERROR_OPERATION_ABORTED), or by an
// error. `done` receives the bytes moved. One read and one write may run at
// the same time on two threads; two reads, or two writes, may not.
BOOL NativeRead(NativePort& port, HANDLE handle, void* buffer, DWORD count, DWORD* done);
BOOL NativeWrite(NativePort& port, HANDLE handle, const void* buffer, DWORD count, DWORD* done);

BOOL NativeGetState(NativePort& port, HANDLE handle, DCB* dcb);
BOOL NativeSetState(NativePort& port, HANDLE handle, DCB* dcb);
BOOL NativeSetTimeouts(NativePort& port, HANDLE handle, COMMTIMEOUTS* timeouts);

// PURGE_TXABORT / PURGE_RXABORT end the writes / reads in progress;
// PURGE_TXCLEAR / PURGE_RXCLEAR discard the output / input queue.
BOOL NativePurge(NativePort& port, HANDLE handle, DWORD flags);

// The CE_* line errors since the previous call, and the queue counts.
// Either output may be null.
BOOL NativeClearError(NativePort& port, HANDLE handle, DWORD* errors, COMSTAT* status);

// Ends every transfer in progress on the port, on any thread; transfers
// that start later run normally.
BOOL NativeCancelPending(NativePort& port, HANDLE handle);

// The modem lines: raise or drop RTS or DTR (SETRTS, CLRRTS, SETDTR,
// CLRDTR), and read CTS, DSR, RI and DCD as the MS_* bits. Neither waits.
BOOL NativeEscapeFunction(NativePort& port, HANDLE handle, DWORD function);
BOOL NativeGetModemStatus(NativePort& port, HANDLE handle, DWORD* status);

// A break on the line from SetBreak until ClearBreak (TIOCSBRK and
// TIOCCBRK; SetCommBreak and ClearCommBreak). Neither waits.
BOOL NativeSetBreak(NativePort& port, HANDLE handle);
BOOL NativeClearBreak(NativePort& port, HANDLE handle);

// Whether the open port is a pseudo-terminal rather than a serial device
// (by its device number, whatever name or link opened it): a pty carries
// bytes at whatever pace its other end takes them, so it has no line
// rate, no modem lines, no breaks, no parity and no handshake of its own.
// Windows has none.
bool NativeIsPseudoTerminal(NativePort& port, HANDLE handle);

// Those failed with `error` because the device has no modem lines (or no
// break).
bool NativeNoModemLines(const plat::Error& error);

// A transfer that failed with `error` found the device gone (unplugged,
// hung up): only closing it and opening it again can help.
bool NativeIsLost(const plat::Error& error);

// The words for a last error of a local port's operations: the system's,
// or Windows' for the Win32 codes the backend sets itself.
std::string NativeErrorText(const plat::Error& error);
