// How long a full-duplex reader waits before its next read on a line that
// delivers its bytes a few at a time.
//
// A line at its real speed (a UART at 115200 bit/s, a device server's
// port, a paced cable) hands the driver a few bytes every millisecond or
// so, and every read returns as soon as any are there: a reader woke ten
// or more times for each 1024-byte block, and with a few hundred ports
// those wake-ups were nearly all the engine's processor time. Instead,
// after a read that came back short (the driver had nothing more), the
// reader waits about the time the rest of its block takes to arrive, and
// so wakes about twice a block.
//
// The rate is the line's as the reader sees it: the bytes a short read got
// since the previous short read left the driver empty. A line faster than
// its reader (an unpaced pseudo-terminal) gives full reads, or a rate at
// which the rest of a block is a millisecond away: no pause. A read that
// got nothing has already waited its time-out: no pause either.
//
// Bounds: a pause is at most kMaxReadPauseMs, so that a stop waits no
// longer than it did for a read's time-out; and no longer than the line,
// at the rate its settings allow, takes to fill half of the smallest
// receive buffer serial drivers keep (kDriverBufferBytes), so nothing
// overflows however fast the line runs. A line of unknown speed never
// pauses.
//
// No clock of its own: the reader passes microseconds of a steady clock,
// so the rules are tested without sleeping. One reader's, not shared.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

// The longest pause: the read time-out (port_worker.h's kReadTimeoutMs).
constexpr uint32_t kMaxReadPauseMs = 100;
// Linux's tty buffer and the Windows serial driver's default are 4096.
constexpr uint32_t kDriverBufferBytes = 4096;
// Shorter pauses are not worth a sleep.
constexpr uint32_t kMinReadPauseMs = 2;

class ReadPause {
  public:
    // `lineBytesPerSecond`: the characters per second the port's settings
    // let through, 0 when unknown (no pauses then).
    explicit ReadPause(uint32_t lineBytesPerSecond);
    // For a port with these settings: start bit, data bits, parity and
    // stop bits at its speed.
    static ReadPause ForLine(const DCB& dcb);

    // After a read of `asked` bytes (0: no read was made) that returned
    // `got`, ending at `nowUs`, with `missing` bytes still to come for the
    // block: how many ms to wait before the next read (0: read at once).
    uint32_t After(uint32_t asked, uint32_t got, uint32_t missing, uint64_t nowUs);

  private:
    uint32_t limitMs_ = 0;
    bool drained_ = false;    // the last read left the driver empty...
    uint64_t drainedUs_ = 0;  // ...at this time
    uint64_t rate_ = 0;       // bytes per second seen, 0 while unknown
};
