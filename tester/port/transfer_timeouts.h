// How long a serial read or write may wait, by the rules the Win32 serial
// API gives its time-outs (COMMTIMEOUTS). Backends that block on their own
// (POSIX) ask these functions before every wait, so reads and writes end
// when they would on Windows:
//
// - ReadIntervalTimeout = MAXDWORD with both read totals 0: a read returns
//   at once with what has arrived, possibly nothing.
// - ReadIntervalTimeout = MAXDWORD, ReadTotalTimeoutMultiplier = MAXDWORD,
//   0 < ReadTotalTimeoutConstant < MAXDWORD: a read returns as soon as at
//   least one byte is there, or after the constant with nothing.
// - Otherwise a read ends when all bytes are there, when multiplier x count
//   + constant ms have passed (no limit when both are 0), or when more than
//   the interval (if not 0) has passed between two bytes after the first.
// - A write ends when all is accepted or after WriteTotalTimeoutMultiplier
//   x count + WriteTotalTimeoutConstant ms (no limit when both are 0).
// A transfer ended by a time-out succeeds with the bytes it moved.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Milliseconds a read of `count` bytes may still wait for more, having
// received `received` bytes, `sinceStart` ms after it began and
// `sinceLastByte` ms after the latest byte came. 0: end the read now;
// kWaitForever: no limit.
uint32_t ReadWaitMs(const COMMTIMEOUTS& t, uint32_t count, uint32_t received, uint32_t sinceStart,
                    uint32_t sinceLastByte);

// Milliseconds a write of `count` bytes may still wait, `sinceStart` ms
// after it began (0: end now; kWaitForever: no limit).
uint32_t WriteWaitMs(const COMMTIMEOUTS& t, uint32_t count, uint32_t sinceStart);

// False for the one combination the serial API refuses: every read field
// MAXDWORD.
bool TimeoutsValid(const COMMTIMEOUTS& t);
