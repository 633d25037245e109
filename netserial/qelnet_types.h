/*
 * qelnet_types.h: the Win32 integer types, serial records and constants that
 * the functions of qelnet.h take and return.
 *
 * On Windows this is <windows.h>. Elsewhere it defines the subset the
 * library uses, with the Win32 layouts and values: DCB is 28 bytes with the
 * same bit fields, COMMTIMEOUTS 20 and COMSTAT 12; CE_*, EV_*, MS_*,
 * PURGE_*, the escape function codes, the parity, stop-bit and line-control
 * codes and the error codes keep their Win32 numbers. A program written for
 * the Win32 serial API compiles against it unchanged.
 *
 * It includes nothing but <stdint.h> (or <windows.h>) and serves C (C99
 * on) and C++ alike. The tester's own Win32 seam (platform/win32_types.h) is built on
 * it, so the library and the tester can never disagree on a record.
 */
#ifndef QELNET_TYPES_H
#define QELNET_TYPES_H

#ifdef _WIN32

#include <windows.h>

#else

#include <stdint.h>

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAXDWORD 0xffffffffu
#define INFINITE 0xffffffffu

/* Calling convention of the Win32 API; meaningless elsewhere. */
#define WINAPI

/* CreateFile arguments. */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_FLAG_OVERLAPPED 0x40000000u

/* Error codes (GetLastError). */
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_GEN_FAILURE 31
#define ERROR_NETNAME_DELETED 64
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_SEM_TIMEOUT 121
#define ERROR_OPERATION_ABORTED 995
#define ERROR_IO_PENDING 997
#define ERROR_CONNECTION_ABORTED 1236

/* Line errors (ClearCommError). */
#define CE_RXOVER 0x0001
#define CE_OVERRUN 0x0002
#define CE_RXPARITY 0x0004
#define CE_FRAME 0x0008
#define CE_BREAK 0x0010
#define CE_TXFULL 0x0100
#define CE_PTO 0x0200
#define CE_IOE 0x0400
#define CE_DNS 0x0800
#define CE_OOP 0x1000
#define CE_MODE 0x8000

/* Events (SetCommMask, WaitCommEvent). */
#define EV_RXCHAR 0x0001
#define EV_RXFLAG 0x0002
#define EV_TXEMPTY 0x0004
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_BREAK 0x0040
#define EV_ERR 0x0080
#define EV_RING 0x0100
#define EV_PERR 0x0200
#define EV_RX80FULL 0x0400
#define EV_EVENT1 0x0800
#define EV_EVENT2 0x1000

/* Modem status (GetCommModemStatus). */
#define MS_CTS_ON 0x0010
#define MS_DSR_ON 0x0020
#define MS_RING_ON 0x0040
#define MS_RLSD_ON 0x0080

/* PurgeComm flags. */
#define PURGE_TXABORT 0x0001
#define PURGE_RXABORT 0x0002
#define PURGE_TXCLEAR 0x0004
#define PURGE_RXCLEAR 0x0008

/* EscapeCommFunction codes. */
#define SETXOFF 1
#define SETXON 2
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define RESETDEV 7
#define SETBREAK 8
#define CLRBREAK 9

/* DCB Parity and StopBits codes. */
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

/* DCB fRtsControl and fDtrControl codes. */
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

/* The records must keep their Win32 layouts, in C and in C++ alike. */
typedef char QnDcbIs28Bytes[sizeof(DCB) == 28 ? 1 : -1];
typedef char QnCommTimeoutsIs20Bytes[sizeof(COMMTIMEOUTS) == 20 ? 1 : -1];
typedef char QnComStatIs12Bytes[sizeof(COMSTAT) == 12 ? 1 : -1];

#endif /* _WIN32 */

#endif /* QELNET_TYPES_H */
