/*
 * qelnet: a serial port of a network device server (Telnet with the Com Port
 * Control option, RFC 2217) behind the functions of the Win32 serial API.
 *
 * Each function mirrors its Win32 namesake without the "Qn" prefix, with the
 * same records (DCB of 28 bytes, COMMTIMEOUTS, COMSTAT) and constants on
 * every platform, the WINAPI calling convention, and BOOL results (non-zero
 * for success). All calls are synchronous; there are no overlapped forms.
 *
 * Handles. QnCreateFile takes "a.b.c.d:port" (a numeric IPv4 address, a
 * colon, a decimal TCP port) and returns a handle or INVALID_HANDLE_VALUE.
 * Any number of threads may use one handle at the same time. QnCloseHandle
 * ends every call still waiting on the handle (they return FALSE) and the
 * handle is refused from then on.
 *
 * Failures of QnReadFile, QnWriteFile and QnWaitCommEvent leave a definite
 * last error (GetLastError on Windows, errno elsewhere, holding Win32 codes):
 * ERROR_OPERATION_ABORTED after QnCloseHandle or an abort purge
 * (PURGE_RXABORT ends waiting reads, PURGE_TXABORT waiting writes),
 * ERROR_NETNAME_DELETED once the connection is lost, ERROR_INVALID_HANDLE
 * and ERROR_INVALID_PARAMETER for bad arguments. Every export that takes a
 * handle fails a closed or unknown one with ERROR_INVALID_HANDLE. A failed
 * QnCreateFile leaves ERROR_NOT_ENOUGH_MEMORY when memory ran out.
 *
 * Settings: section [General] of "qelnet.ini" in the folder that was current
 * when the library was loaded, read once, at the first QnCreateFile:
 * SendBufSize, RecvBufSize, TcpNoDelay, WriteBlockSize, DisableRemoteState,
 * SubnegIacDoubling, ServerLostTimeout. The sockets layer also starts at the
 * first QnCreateFile; if it cannot, a message box says so once and the
 * opens fail with the system's error.
 *
 * A server that stops answering without closing (power lost, cable pulled)
 * is reported as a lost connection (ERROR_NETNAME_DELETED, every waiting
 * call woken) within ServerLostTimeout seconds (10 by default), whether
 * data is waiting to be acknowledged or the line is idle.
 *
 * Windows: qelnet.dll exports the nineteen functions under these plain
 * names (no @N decoration on 32-bit). Linux: libqelnet.so exports the same
 * nineteen C functions and nothing else.
 *
 * This header and qelnet_types.h beside it are all a program needs: C or
 * C++, linked with -lqelnet (pkg-config --cflags --libs qelnet) or with the
 * import library qelnet.dll.a.
 */
#pragma once

#include "qelnet_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Only the first argument is read; the others are those of CreateFileA. */
HANDLE WINAPI QnCreateFile(LPCSTR portName, DWORD access, DWORD shareMode, LPVOID security,
                           DWORD creation, DWORD flags, HANDLE templateFile);
/* Must be the last call on the handle: the handle value is not valid after it. */
BOOL WINAPI QnCloseHandle(HANDLE port);

/* The argument lists are those of ReadFile, WriteFile and WaitCommEvent;
 * `overlapped` is accepted and ignored (pass null): the calls are
 * synchronous. On 32-bit Windows the stdcall argument size is part of the
 * contract, so a caller must pass all five (three) arguments. */

/* A read that runs out of time succeeds with a short count. Data received
 * before the connection was lost stays readable; a read fails only once
 * none is left. */
BOOL WINAPI QnReadFile(HANDLE port, LPVOID buffer, DWORD toRead, LPDWORD readCount,
                       LPVOID overlapped);
/* A write that runs out of time succeeds with the count queued. */
BOOL WINAPI QnWriteFile(HANDLE port, LPCVOID buffer, DWORD toWrite, LPDWORD writtenCount,
                        LPVOID overlapped);

BOOL WINAPI QnSetCommState(HANDLE port, const DCB* dcb);
BOOL WINAPI QnGetCommState(HANDLE port, DCB* dcb);
BOOL WINAPI QnSetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
BOOL WINAPI QnGetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);
BOOL WINAPI QnPurgeComm(HANDLE port, DWORD flags);
/* `stat` may be null; only its cbInQue is filled. */
BOOL WINAPI QnClearCommError(HANDLE port, LPDWORD errors, COMSTAT* stat);
BOOL WINAPI QnSetCommMask(HANDLE port, DWORD mask);
BOOL WINAPI QnGetCommMask(HANDLE port, LPDWORD mask);
/* Returns at once when events are already pending; otherwise waits for one,
 * or fails when the connection is lost or the handle closed. */
BOOL WINAPI QnWaitCommEvent(HANDLE port, LPDWORD events, LPVOID overlapped);
BOOL WINAPI QnGetCommModemStatus(HANDLE port, LPDWORD status);
BOOL WINAPI QnEscapeCommFunction(HANDLE port, DWORD function);
BOOL WINAPI QnSetCommBreak(HANDLE port);
BOOL WINAPI QnClearCommBreak(HANDLE port);
/* Accepted and ignored; TRUE whatever the arguments. */
BOOL WINAPI QnSetupComm(HANDLE port, DWORD inQueue, DWORD outQueue);
BOOL WINAPI QnSetCommConfig(HANDLE port, LPVOID config, DWORD size);

/* Pointer types for callers that bind the library at run time. */
typedef HANDLE(WINAPI* QnCreateFileFn)(LPCSTR, DWORD, DWORD, LPVOID, DWORD, DWORD, HANDLE);
typedef BOOL(WINAPI* QnCloseHandleFn)(HANDLE);
typedef BOOL(WINAPI* QnReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPVOID);
typedef BOOL(WINAPI* QnWriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPVOID);
typedef BOOL(WINAPI* QnSetCommStateFn)(HANDLE, const DCB*);
typedef BOOL(WINAPI* QnGetCommStateFn)(HANDLE, DCB*);
typedef BOOL(WINAPI* QnSetCommTimeoutsFn)(HANDLE, const COMMTIMEOUTS*);
typedef BOOL(WINAPI* QnPurgeCommFn)(HANDLE, DWORD);
typedef BOOL(WINAPI* QnClearCommErrorFn)(HANDLE, LPDWORD, COMSTAT*);

#ifdef __cplusplus
}
#endif
