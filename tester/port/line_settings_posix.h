// A tty's line settings as the serial API's DCB, through the kernel's
// termios2 (which takes any baud rate, with BOTHER).
//
// What a DCB says and termios holds maps both ways: speed, data bits,
// parity (mark and space with CMSPAR), stop bits, RTS/CTS (CRTSCTS) and
// XON/XOFF (IXON, IXOFF, VSTART, VSTOP). What termios cannot hold (the
// XON/XOFF limits, DSR handshake, TXContinueOnXoff, the error and event
// characters...) is kept as the port's last accepted DCB and reported back
// from there: the Linux tty layer has no DTR/DSR flow control, so such a
// setting is accepted, DTR is held high, and DSR is not watched.
//
// A pseudo-terminal keeps speed, stop bits and the flow-control flags, but
// forces 8 data bits and no parity on every change; read through one, a
// line set to 7E1 reports 8N1, which is what the device then really does.
//
// RtsControl Toggle (RTS_CONTROL_TOGGLE, RTS on while sending) is the
// kernel's RS-485 mode: TIOCSRS485 with SER_RS485_ENABLED and
// SER_RS485_RTS_ON_SEND, so that the driver switches the transmitter
// around each character it sends. Any other RtsControl turns that mode off
// again where it is on. A driver without the mode refuses the settings as
// a whole (kErrorNoRs485Mode), and the line keeps what it had.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

// The last error of settings with RtsControl Toggle that the driver cannot
// follow: it has no RS-485 mode (a pseudo-terminal, most USB adapters).
constexpr uint32_t kErrorNoRs485Mode = ERROR_NOT_SUPPORTED;

// Every device call of this file goes through one function, so that a test
// can stand in for a driver with an RS-485 mode, which no pseudo-terminal
// has. The system's ioctl unless a test set another; null sets it back.
// Not for use while ports are open on other threads.
using LineIoctl = int (*)(int fd, unsigned long request, void* argument);
void SetLineIoctlForTesting(LineIoctl ioctl);

struct termios2;

// Fills the line fields of `t` from `dcb`, keeping the rest of `t`. False,
// with the Win32 error in `error`, for what the serial API refuses: speed
// 0, data bits outside 5..8, an unknown parity or stop-bit code, 1.5 stop
// bits with other than 5 data bits, 2 stop bits with 5, or equal XON and
// XOFF characters with software flow control on.
bool DcbToTermios(const DCB& dcb, termios2& t, uint32_t& error);

// Overwrites the DCB fields that termios decides.
void TermiosToDcb(const termios2& t, DCB& dcb);

// Device calls; each sets the last error on failure.
// Makes the line raw (no echo, no translation, no signals, reads return
// what is there) and fills `dcb` with the line's settings and the serial
// API's defaults for the rest.
bool PrepareLine(int fd, DCB& dcb);
// Applies `dcb` at once, including the RTS and DTR levels where the device
// has modem lines (a pseudo-terminal has none; that is no failure) and the
// RS-485 mode (required for RtsControl Toggle, turned off otherwise).
bool ApplyLineSettings(int fd, const DCB& dcb);
// `dcb` = `accepted` with what termios now says written over it.
bool ReadLineSettings(int fd, const DCB& accepted, DCB& dcb);
// Discards the input queue, the output queue, or both.
bool FlushLine(int fd, bool input, bool output);
