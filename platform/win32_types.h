// Win32 integer types, serial records and constants, and the message box
// codes of the OS seam.
//
// The tester and the network serial library speak the Win32 serial API on
// every platform. The records and the serial constants are the library's
// public ones (netserial/qelnet_types.h, shipped with it); this header adds
// what only the tester uses. On Windows both are <windows.h>.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

#include "netserial/qelnet_types.h"

/* Error codes the tester sets itself beyond the library's. */
#define ERROR_NOT_READY 21
#define ERROR_NOT_SUPPORTED 50

/* MessageBox flags and results. */
#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2

#endif /* _WIN32 */
